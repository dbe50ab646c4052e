#pragma once

#include <QString>
#include <QUrl>

#include <optional>

/// The platform's open and save dialogs, the one place where the import and export flows ask the
/// user for a file. The desktop application shows Qt dialogs; tests and quenda-cli answer without
/// asking. Called on the user-interface thread only.
class FileDialogs {
public:
    virtual ~FileDialogs() = default;

    struct OpenRequest {
        QString title;
        QString message;
        bool imagesOnly = false; ///< accept image files only
    };
    /// One chosen regular file, or nothing when the user cancelled.
    virtual std::optional<QUrl> chooseFileToOpen(const OpenRequest& request) = 0;

    struct SaveRequest {
        QString suggestedName;
        QString title;   ///< may be empty
        QString message; ///< may be empty
    };
    /// The chosen destination, or nothing when the user cancelled.
    virtual std::optional<QUrl> chooseSaveLocation(const SaveRequest& request) = 0;
};
