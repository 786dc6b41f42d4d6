#pragma once

#include "TolvexCore/Texts/MessageKey.h"
#include "TolvexCore/Texts/ResourceBundle.h"

#include <QString>

#include <optional>

namespace tolvex {

// Looks message keys up in the string tables: the user's language first, then
// English, then the key itself, so a text is never empty.
//
// A localizer is an immutable value; copies share the parsed tables, and it
// may be used from any thread. It has no formatting of its own: callers fill
// placeholders with MessageFormat (or, for the few texts that say so, by
// plain replacement).
class Localizer {
public:
    // `localeIdentifier` is a language identifier such as "es-MX" or "zh_CN".
    // Without a bundle the core library's bundle is used; when that cannot be
    // found either, every lookup answers the raw key.
    explicit Localizer(const QString& localeIdentifier, std::optional<ResourceBundle> bundle = std::nullopt);

    // "zh-Hans" for any identifier that begins with "zh" (Traditional Chinese
    // included), "es" for one that begins with "es", "en" otherwise; the test
    // is a plain prefix test after lower-casing and turning "_" into "-".
    static QString languageCode(const QString& localeIdentifier);

    // The language folder chosen for the user and the English fallback; each
    // is the base bundle itself when its folder is missing (and `preferred`
    // is `english` when the chosen folder is missing). Absent only when there
    // is no base bundle at all.
    const std::optional<ResourceBundle>& preferred() const { return preferred_; }
    const std::optional<ResourceBundle>& english() const { return english_; }
    // The language chosen from the identifier ("en", "es" or "zh-Hans").
    const QString& language() const { return language_; }

    // The text of the key in the preferred language, else in English, else the
    // raw key. An empty text in a table counts as missing.
    QString string(MessageKey key) const;

    // The user's first preferred interface language, "en" when there is none.
    static QString preferredLanguageIdentifier();

    // The application-wide localizer. Made on first use for the preferred
    // language over the core bundle; replaced once at start-up, after the
    // resource bundle was checked. Safe to call from any thread.
    static Localizer shared();
    static void setShared(Localizer localizer);

private:
    QString language_;
    std::optional<ResourceBundle> english_;
    std::optional<ResourceBundle> preferred_;
};

} // namespace tolvex
