#include "app/services/TextSearch.h"

#include <unicode/coll.h>
#include <unicode/stsearch.h>

#include <memory>

struct TextSearch::Impl {
    QString pattern;
    std::unique_ptr<icu::Collator> collator;
    std::unique_ptr<icu::StringSearch> search;
};

namespace {

icu::UnicodeString view(const QString& text) {
    // Read-only alias of the QString's UTF-16 buffer: no copy for every candidate text.
    return icu::UnicodeString(false, reinterpret_cast<const char16_t*>(text.utf16()), int32_t(text.size()));
}

} // namespace

TextSearch::TextSearch(const QString& pattern, const char* locale) : d(std::make_unique<Impl>()) {
    d->pattern = pattern;
    if (pattern.isEmpty())
        return;
    UErrorCode status = U_ZERO_ERROR;
    d->collator.reset(icu::Collator::createInstance(icu::Locale(locale), status));
    if (U_FAILURE(status) || !d->collator)
        return;
    // Primary strength compares base letters only: case and accents do not count.
    d->collator->setStrength(icu::Collator::PRIMARY);
    auto* rules = dynamic_cast<icu::RuleBasedCollator*>(d->collator.get());
    if (!rules)
        return;
    const icu::UnicodeString placeholder(u" ");
    d->search = std::make_unique<icu::StringSearch>(view(d->pattern), placeholder, rules, nullptr, status);
    if (U_FAILURE(status))
        d->search.reset();
}

TextSearch::~TextSearch() = default;

bool TextSearch::isContained(const QString& text) {
    if (d->pattern.isEmpty())
        return true;
    if (!d->search) // no collator for the locale: fall back to a case-insensitive test
        return text.contains(d->pattern, Qt::CaseInsensitive);
    UErrorCode status = U_ZERO_ERROR;
    d->search->setText(view(text), status);
    if (U_FAILURE(status))
        return false;
    return d->search->first(status) != USEARCH_DONE && U_SUCCESS(status);
}
