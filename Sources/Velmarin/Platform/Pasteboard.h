#pragma once

#include <QByteArray>
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
    using Reader = std::function<std::optional<QByteArray>(const QString& type)>;

    PasteboardItem(QStringList types, Reader reader) : types_(std::move(types)), reader_(std::move(reader)) {}

    const QStringList& types() const { return types_; }
    bool hasType(const QString& type) const { return types_.contains(type); }
    // Nothing when the item lacks the type or its owner gave no data.
    std::optional<QByteArray> data(const QString& type) const
    {
        if (!hasType(type) || !reader_)
            return std::nullopt;
        return reader_(type);
    }

private:
    QStringList types_;
    Reader reader_;
};

// What the clipboard gateway needs of a pasteboard: a change count and the
// items. Used on the GUI thread only.
class Pasteboard {
public:
    virtual ~Pasteboard() = default;
    // Rises with every change of the pasteboard's owner or content, ours included.
    virtual std::int64_t changeCount() const = 0;
    // In order; an empty pasteboard has none.
    virtual QList<PasteboardItem> items() const = 0;
};

} // namespace tolvex
