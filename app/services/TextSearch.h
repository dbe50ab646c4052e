#pragma once

#include <QString>

#include <memory>

/// A locale-aware "contains" test that ignores case and diacritics ("ORO" finds "dell’oro",
/// "perche" finds "perché"), for the library's search field. Built once per search text and reused
/// over many candidate texts. Not thread-safe: one instance per thread.
class TextSearch {
public:
    /// Searches for `pattern` with the collation rules of `locale` (an ICU locale name).
    explicit TextSearch(const QString& pattern, const char* locale = "it");
    ~TextSearch();
    TextSearch(const TextSearch&) = delete;
    TextSearch& operator=(const TextSearch&) = delete;

    /// True when `text` contains the pattern. An empty pattern is contained in every text.
    bool isContained(const QString& text);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
