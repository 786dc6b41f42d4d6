#include "Velmarin/Platform/MimeDataPasteboard.h"

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

std::optional<QByteArray> read(const QPointer<const QMimeData>& data, const QString& format)
{
    if (!data || !data->hasFormat(format))
        return std::nullopt;
    return data->data(format);
}

} // namespace

QList<PasteboardItem> MimeDataPasteboard::itemsOf(QPointer<const QMimeData> data)
{
    if (!data)
        return {};
    return itemsOf(data->formats(), [data](const QString& format) { return read(data, format); });
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
        const std::optional<QByteArray> list = read(uriList ? fileURLType : gnomeCopiedFiles);
        QList<QByteArray> lines = list ? uriLines(*list, !uriList) : QList<QByteArray>{};
        // A list promised but unreadable (its owner left) still names a file
        // item, so that the reader refuses it instead of taking other content.
        if (lines.isEmpty())
            return {PasteboardItem(types, [](const QString&) { return std::optional<QByteArray>(); })};
        QList<PasteboardItem> items;
        items.reserve(lines.size());
        for (const QByteArray& line : lines) {
            items.append(PasteboardItem(types, [line](const QString& type) -> std::optional<QByteArray> {
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
    return {PasteboardItem(types, [read, textFormat](const QString& type) {
        return read(type == stringType ? textFormat : type);
    })};
}

} // namespace tolvex
