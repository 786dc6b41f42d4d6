#pragma once

#include <QMimeData>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace tolvex {

class CopyOutProvider;

// What a card's drag carries: representations made from a copy exported
// when the drag was prepared, each offered only while the drag may still
// export. A drop target that asks late, after the shelf was covered, gets
// no formats and no data.
class CopyOutMimeData final : public QMimeData {
public:
    // The order in which drop targets see the formats.
    static QStringList offeredOrder();

    QStringList formats() const override;
    bool hasFormat(const QString& mimeType) const override;

    // The exported copy's file name.
    std::optional<QString> suggestedFilename;
    // Format to bytes, filled once before the drag starts.
    std::map<QString, QByteArray> representations;
    // Asked on every request; false closes everything.
    std::function<bool()> canExport = [] { return false; };
    // Kept alive for as long as the drag holds the data.
    std::shared_ptr<CopyOutProvider> userInfo;

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;
};

} // namespace tolvex
