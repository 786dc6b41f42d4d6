#pragma once

#include "Velmarin/Common/UserDefaults.h"

#include <QHash>

namespace tolvex::testing {

// User defaults that live only as long as the object.
class MemoryUserDefaults final : public UserDefaults {
public:
    QVariant value(const QString& key) const override { return values.value(key); }
    void setValue(const QString& key, const QVariant& value) override { values.insert(key, value); }

    QHash<QString, QVariant> values;
};

} // namespace tolvex::testing
