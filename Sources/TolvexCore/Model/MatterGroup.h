#pragma once

#include <QString>
#include <QUuid>

#include <cstdint>

namespace tolvex {

// A named group of materials ("matter").
struct MatterGroup {
    QUuid id;
    QString name;
    std::int64_t order = 0;

    // The fixed group every workspace holds: 00000000-0000-0000-0000-000000000001.
    static const QUuid& ungroupedID();
    // The ungrouped group as a new workspace holds it: name "未分组", order 0.
    static MatterGroup ungrouped();

    friend bool operator==(const MatterGroup& a, const MatterGroup& b);
};

} // namespace tolvex
