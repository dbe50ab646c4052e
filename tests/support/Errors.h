#pragma once

#include "core/QuendaError.h"

#include <gtest/gtest.h>

#include <QString>

/// The message of the QuendaError::invalidContent that `action` throws; "<no error>" when it throws
/// nothing. A QuendaError of another kind fails the calling test.
template <typename F>
QString invalidContentMessage(F&& action) {
    try {
        action();
    } catch (const QuendaError& error) {
        EXPECT_EQ(error.kind(), QuendaError::Kind::InvalidContent);
        return error.message();
    }
    return QStringLiteral("<no error>");
}
