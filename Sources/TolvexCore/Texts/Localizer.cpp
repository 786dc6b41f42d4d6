#include "TolvexCore/Texts/Localizer.h"

#include <QLocale>
#include <QStringList>

#include <mutex>

namespace tolvex {

namespace {

std::optional<QString> nonEmptyText(const std::optional<ResourceBundle>& bundle, const QString& key)
{
    if (!bundle)
        return std::nullopt;
    auto text = bundle->localizedString(key);
    if (!text || text->isEmpty())
        return std::nullopt;
    return text;
}

std::mutex& sharedMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::optional<Localizer>& sharedSlot()
{
    static std::optional<Localizer> slot;
    return slot;
}

} // namespace

Localizer::Localizer(const QString& localeIdentifier, std::optional<ResourceBundle> bundle)
    : language_(languageCode(localeIdentifier))
{
    const std::optional<ResourceBundle> base = bundle ? std::move(bundle) : ResourceBundle::core();
    if (!base)
        return;
    english_ = base->languageBundle(QStringLiteral("en"));
    if (!english_)
        english_ = base;
    preferred_ = base->languageBundle(language_);
    if (!preferred_)
        preferred_ = english_;
}

QString Localizer::languageCode(const QString& localeIdentifier)
{
    const QString normalized = localeIdentifier.toLower().replace(QLatin1Char('_'), QLatin1Char('-'));
    if (normalized.startsWith(QLatin1String("zh")))
        return QStringLiteral("zh-Hans");
    if (normalized.startsWith(QLatin1String("es")))
        return QStringLiteral("es");
    return QStringLiteral("en");
}

QString Localizer::string(MessageKey key) const
{
    const QString raw = messageKeyString(key);
    if (auto text = nonEmptyText(preferred_, raw))
        return *text;
    if (auto text = nonEmptyText(english_, raw))
        return *text;
    return raw;
}

QString Localizer::preferredLanguageIdentifier()
{
    const QStringList languages = QLocale::system().uiLanguages();
    if (languages.isEmpty() || languages.first().isEmpty())
        return QStringLiteral("en");
    return languages.first();
}

Localizer Localizer::shared()
{
    std::lock_guard lock(sharedMutex());
    auto& slot = sharedSlot();
    if (!slot)
        slot.emplace(preferredLanguageIdentifier());
    return *slot;
}

void Localizer::setShared(Localizer localizer)
{
    std::lock_guard lock(sharedMutex());
    sharedSlot() = std::move(localizer);
}

} // namespace tolvex
