#pragma once

#include "TolvexCore/Model/MaterialEnums.h"
#include "TolvexCore/Model/PageLocator.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>

namespace tolvex {

// Where a material came from. `origin` and `isManuallyRegistered` are always
// given; the five optional fields start absent.
struct SourceRecord {
    ImportOrigin origin = ImportOrigin::clipboard;
    std::optional<QString> filePath;
    std::optional<QByteArray> fileBookmark;
    std::optional<QUrl> webURL;
    std::optional<QString> manualTitle;
    std::optional<PageLocator> locator;
    bool isManuallyRegistered = false;

    friend bool operator==(const SourceRecord& a, const SourceRecord& b);
};

} // namespace tolvex
