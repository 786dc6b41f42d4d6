#include "Velmarin/Actions/CopyOutMimeData.h"

#include "Velmarin/Actions/CopyOutProvider.h"
#include "Velmarin/Actions/OwnedCopyMarker.h"

namespace tolvex {

QStringList CopyOutMimeData::offeredOrder()
{
    return {QStringLiteral("text/plain"), QStringLiteral("image/png"), QStringLiteral("image/tiff"),
        QStringLiteral("text/uri-list"), ownedCopyMimeType};
}

QStringList CopyOutMimeData::formats() const
{
    if (!canExport())
        return {};
    QStringList offered;
    for (const QString& format : offeredOrder()) {
        if (representations.contains(format))
            offered.append(format);
    }
    return offered;
}

bool CopyOutMimeData::hasFormat(const QString& mimeType) const
{
    return formats().contains(mimeType);
}

QVariant CopyOutMimeData::retrieveData(const QString& mimeType, QMetaType type) const
{
    if (!canExport())
        return {};
    const auto held = representations.find(mimeType);
    if (held == representations.end())
        return {};
    if (type.id() == QMetaType::QString)
        return QString::fromUtf8(held->second);
    return held->second;
}

} // namespace tolvex
