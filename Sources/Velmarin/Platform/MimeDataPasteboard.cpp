#include "Velmarin/Platform/MimeDataPasteboard.h"

#include "TolvexCore/Model/StoreError.h"

namespace tolvex {

namespace {

const QString fileURLType = QString::fromUtf16(PasteboardType::fileURL);
const QString stringType = QString::fromUtf16(PasteboardType::string);
const QString ownCopyType = QString::fromUtf16(PasteboardType::ownCopy);
const QString gnomeCopiedFiles = QStringLiteral("x-special/gnome-copied-files");
// Some drag sources offer only the form with the charset.
const QString utf8TextType = QStringLiteral("text/plain;charset=utf-8");

const QStringList imageTypes{QString::fromUtf16(PasteboardType::png), QString::fromUtf16(PasteboardType::tiff),
    QString::fromUtf16(PasteboardType::jpeg), QString::fromUtf16(PasteboardType::heic)};

// The lines of a URI list, comments and blank lines left out; the first line
// of GNOME's list is the action ("copy" or "cut").
QList<QByteArray> uriLines(const QByteArray& list, bool gnome)
{
    QList<QByteArray> lines;
    bool first = true;
    for (QByteArray line : list.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (gnome && first) {
            first = false;
            if (line == "copy" || line == "cut")
                continue;
        }
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        lines.append(line);
    }
    return lines;
}

std::optional<QByteArray> read(const QPointer<const QMimeData>& data, const QString& format, qsizetype maximum)
{
    if (!data || !data->hasFormat(format))
        return std::nullopt;
    QByteArray bytes = data->data(format);
    if (bytes.size() > maximum)
        bytes.truncate(maximum);
    return bytes;
}

} // namespace

QList<PasteboardItem> MimeDataPasteboard::itemsOf(QPointer<const QMimeData> data)
{
    if (!data)
        return {};
    return itemsOf(data->formats(),
        [data](const QString& format, qsizetype maximum) { return read(data, format, maximum); });
}

QList<PasteboardItem> MimeDataPasteboard::itemsOf(const QStringList& formats, const PasteboardItem::Reader& read)
{
    if (formats.isEmpty())
        return {};
    const bool own = formats.contains(ownCopyType);

    const bool uriList = formats.contains(fileURLType);
    if (uriList || formats.contains(gnomeCopiedFiles)) {
        QStringList types{fileURLType};
        if (own)
            types.append(ownCopyType);
        const std::optional<QByteArray> list = read(uriList ? fileURLType : gnomeCopiedFiles, uriListBytes + 1);
        // A list cut short would name a file by the start of its path.
        if (list && list->size() > uriListBytes) {
            return {PasteboardItem(types, [](const QString&, qsizetype) -> std::optional<QByteArray> {
                throw StoreError::budgetExceeded();
            })};
        }
        QList<QByteArray> lines = list ? uriLines(*list, !uriList) : QList<QByteArray>{};
        // A list promised but unreadable (its owner left) still names a file
        // item, so that the reader refuses it instead of taking other content.
        if (lines.isEmpty())
            return {PasteboardItem(types, [](const QString&, qsizetype) { return std::optional<QByteArray>(); })};
        QList<PasteboardItem> items;
        items.reserve(lines.size());
        for (const QByteArray& line : lines) {
            items.append(PasteboardItem(types, [line](const QString& type, qsizetype) -> std::optional<QByteArray> {
                if (type == ownCopyType)
                    return QByteArrayLiteral("1");
                return line;
            }));
        }
        return items;
    }

    QStringList types;
    for (const QString& image : imageTypes) {
        if (formats.contains(image))
            types.append(image);
    }
    const bool plain = formats.contains(stringType);
    if (plain || formats.contains(utf8TextType))
        types.append(stringType);
    if (own)
        types.append(ownCopyType);
    const QString textFormat = plain ? stringType : utf8TextType;
    return {PasteboardItem(types, [read, textFormat](const QString& type, qsizetype maximum) {
        return read(type == stringType ? textFormat : type, maximum);
    })};
}

} // namespace tolvex
