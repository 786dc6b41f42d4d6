#pragma once

#include <QString>
#include <QVariant>

namespace tolvex {

// The user's persistent preferences ("redRopeEntryHintDismissed",
// "soundOff"...). The program uses SettingsUserDefaults (Platform/); tests
// use an in-memory twin. GUI thread only.
class UserDefaults {
public:
    virtual ~UserDefaults() = default;

    // An invalid QVariant when nothing is stored under the key.
    virtual QVariant value(const QString& key) const = 0;
    virtual void setValue(const QString& key, const QVariant& value) = 0;

    // False when absent or not a Boolean-like value.
    bool boolValue(const QString& key) const
    {
        const QVariant stored = value(key);
        return stored.isValid() && stored.toBool();
    }
};

} // namespace tolvex
