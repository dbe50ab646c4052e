#pragma once

#include <QList>
#include <QSet>
#include <QString>

#include <optional>

/// Text style of a run. JSON text: "body", "heading", "caption".
enum class RichTextStyle { body, heading, caption };

/// Alignment of the paragraph a run belongs to. JSON text: "leading", "center", "trailing".
enum class RichTextAlignment { leading, center, trailing };

/// One stretch of uniformly formatted content. An attachment run (image or formula) holds exactly one
/// U+FFFC as its text and no link.
struct RichTextRun {
    QString text;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    RichTextStyle style = RichTextStyle::body;
    RichTextAlignment alignment = RichTextAlignment::leading;
    std::optional<QString> link;
    /// Media file name: 64 lower-case hex digits, a point, a lower-case image extension.
    std::optional<QString> imageID;
    /// LaTeX source of a formula.
    std::optional<QString> latex;

    bool isAttachment() const { return imageID.has_value() || latex.has_value(); }

    friend bool operator==(const RichTextRun&, const RichTextRun&) = default;
};

/// The formatted content of one side of a note: runs in reading order. Line breaks are ordinary
/// characters inside run texts. Adjacent runs with equal formatting are not merged here.
struct RichTextDocument {
    QList<RichTextRun> runs;

    /// All run texts concatenated; attachments appear as U+FFFC. Must equal the note's plain field.
    QString sourceText() const;
    /// Readable plain text for export, search and the clipboard.
    QString exportText() const;
    /// The image identifiers of every image run, each once.
    QSet<QString> mediaIDs() const;
    /// The gate every document passes before it is saved, imported or inserted.
    /// Throws QuendaError::invalidContent with the first failing check's message.
    void validate() const;

    friend bool operator==(const RichTextDocument&, const RichTextDocument&) = default;
};

/// The object replacement character that stands for an attachment in run texts.
inline constexpr char16_t kObjectReplacementCharacter = u'\uFFFC';
