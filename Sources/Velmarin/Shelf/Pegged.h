#pragma once

#include "TolvexCore/Model/MaterialEnums.h"

#include <QImage>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <optional>

namespace tolvex {

// One hanging card as the shelf shows it. Never persisted.
struct Pegged {
    QUuid id;
    // The material's active version when the card was built.
    QUuid versionID;
    QUrl url;
    QImage thumb;
    QString displayTitle;
    std::optional<QString> previewText;
    MaterialKind kind = MaterialKind::file;
    // Degrees, drawn once in [-2.5, 2.5]; a card keeps it while it hangs.
    double tilt = 0;
    bool falling = false;
    bool flying = false;

    // The tilt takes no part: a re-render that keeps a card must compare
    // equal. The thumbnail compares by identity (a shared QImage keeps its
    // cache key), so a card whose thumbnail was remade is a different card
    // and gets redrawn even when the pixels happen to match.
    friend bool operator==(const Pegged& a, const Pegged& b)
    {
        return a.id == b.id && a.versionID == b.versionID && a.url == b.url && a.falling == b.falling
            && a.flying == b.flying && a.thumb.cacheKey() == b.thumb.cacheKey() && a.displayTitle == b.displayTitle
            && a.previewText == b.previewText && a.kind == b.kind;
    }
};

} // namespace tolvex
