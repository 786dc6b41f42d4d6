#include "Velmarin/Platform/SettingsUserDefaults.h"

namespace tolvex {

SettingsUserDefaults::SettingsUserDefaults()
    : settings_(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tolvex"), QStringLiteral("Tolvex"))
{
}

SettingsUserDefaults::SettingsUserDefaults(const QString& filePath) : settings_(filePath, QSettings::IniFormat)
{
}

QVariant SettingsUserDefaults::value(const QString& key) const
{
    return settings_.value(key);
}

void SettingsUserDefaults::setValue(const QString& key, const QVariant& value)
{
    settings_.setValue(key, value);
    settings_.sync();
}

} // namespace tolvex
