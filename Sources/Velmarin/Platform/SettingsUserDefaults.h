#pragma once

#include "Velmarin/Common/UserDefaults.h"

#include <QSettings>

namespace tolvex {

// The user defaults of the running program, in QSettings' user scope
// ($XDG_CONFIG_HOME/Tolvex/Tolvex.conf). Each write is synced at once so
// that a crash right after dismissing something keeps it dismissed.
class SettingsUserDefaults final : public UserDefaults {
public:
    SettingsUserDefaults();
    // For tests and tools: a settings file of their own.
    explicit SettingsUserDefaults(const QString& filePath);

    QVariant value(const QString& key) const override;
    void setValue(const QString& key, const QVariant& value) override;

private:
    QSettings settings_;
};

} // namespace tolvex
