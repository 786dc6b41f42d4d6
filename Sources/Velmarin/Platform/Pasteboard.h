#pragma once

#include <QByteArray>
#include <QFuture>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>

namespace tolvex {

// The types a pasteboard item may carry, as MIME types.
namespace PasteboardType {
// One file URL per item.
inline constexpr char16_t fileURL[] = u"text/uri-list";
inline constexpr char16_t png[] = u"image/png";
inline constexpr char16_t tiff[] = u"image/tiff";
inline constexpr char16_t jpeg[] = u"image/jpeg";
inline constexpr char16_t heic[] = u"image/heic";
// UTF-8 text.
inline constexpr char16_t string[] = u"text/plain";
// Marks the program's own copies and drag-outs; its value is "1".
inline constexpr char16_t ownCopy[] = u"application/x-local.tolvex.owned-copy";
} // namespace PasteboardType

// One item of a pasteboard: the types it offers and, on request, the bytes
// for one of them. Reading may ask another program, so it happens only when
// asked, and may find nothing (the owner went away, the type was withdrawn).
class PasteboardItem {
public:
    // At most `maximum` bytes for a type: a longer answer is cut there, so
    // that a caller who asks for one byte more than it accepts sees an
    // over-long answer as such without the rest of it ever being read.
    using Reader = std::function<std::optional<QByteArray>(const QString& type, qsizetype maximum)>;

    PasteboardItem(QStringList types, Reader reader) : types_(std::move(types)), reader_(std::move(reader)) {}

    const QStringList& types() const { return types_; }
    bool hasType(const QString& type) const { return types_.contains(type); }
    // Nothing when the item lacks the type or its owner gave no data.
    std::optional<QByteArray> data(const QString& type, qsizetype maximum) const
    {
        if (!hasType(type) || !reader_)
            return std::nullopt;
        return reader_(type, maximum);
    }

private:
    QStringList types_;
    Reader reader_;
};

// What the clipboard gateway needs of a pasteboard: a change count and a
// read of the items.
class Pasteboard {
public:
    using ItemsReader = std::function<void(const QList<PasteboardItem>& items)>;

    virtual ~Pasteboard() = default;
    // Rises with every change of the pasteboard's owner or content, ours
    // included. GUI thread.
    virtual std::int64_t changeCount() const = 0;
    // Hands the items, in order (none for an empty pasteboard), to `read`
    // and ends the future when it has returned: with its exception when it
    // threw, with StoreError::sourceChanged when the pasteboard changed
    // meanwhile. The items, and what they read, are valid during the call
    // only. Content this process holds is read at once, on the calling
    // thread; another program's on a thread of the pasteboard's own, where
    // waiting for that program cannot stall the GUI thread. Called on the
    // GUI thread.
    virtual QFuture<void> readItems(ItemsReader read) const = 0;

protected:
    // `read` over `items` here and now; the future has ended on return.
    QFuture<void> readAtOnce(const QList<PasteboardItem>& items, const ItemsReader& read) const;
};

} // namespace tolvex
