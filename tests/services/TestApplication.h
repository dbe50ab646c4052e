#pragma once

#include <QApplication>

// Widgets and text drawing need an application object; gtest_main does not make one.
inline void ensureApplication() {
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "quenda_services_tests";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
}
