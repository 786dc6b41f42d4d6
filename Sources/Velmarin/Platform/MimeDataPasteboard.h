#pragma once

#include "Velmarin/Platform/Pasteboard.h"

#include <QMimeData>
#include <QPointer>

namespace tolvex {

// The pasteboard of one drop: its QMimeData, which does not change while
// the drop is handled. Also turns any QMimeData into items, the same way for
// the system clipboard and for drops.
class MimeDataPasteboard : public Pasteboard {
public:
    explicit MimeDataPasteboard(const QMimeData* data) : data_(data) {}

    // The longest URL list read: far more than the clipboard's 32 files
    // take. A longer one fails the read of its files with budgetExceeded.
    static constexpr qsizetype uriListBytes = 1048576;

    std::int64_t changeCount() const override { return 0; }
    // At once: the data of a drop is already in this process.
    QFuture<void> readItems(ItemsReader read) const override { return readAtOnce(itemsOf(data_), read); }

    // One file item per URL of text/uri-list (or, without it, of GNOME's
    // x-special/gnome-copied-files); otherwise one item with the image types
    // and the text the data offers. The own marker, when present, marks
    // every item. No format at all gives no items. Reads the URL list at
    // once; everything else only when an item is asked for it.
    static QList<PasteboardItem> itemsOf(const QStringList& formats, const PasteboardItem::Reader& read);
    static QList<PasteboardItem> itemsOf(QPointer<const QMimeData> data);

private:
    QPointer<const QMimeData> data_;
};

} // namespace tolvex
