#include "core/RichTextDocument.h"

QString RichTextDocument::sourceText() const {
    QString text;
    for (const RichTextRun& run : runs)
        text += run.text;
    return text;
}
