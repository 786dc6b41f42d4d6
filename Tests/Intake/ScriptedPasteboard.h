#pragma once

#include "Velmarin/Platform/Pasteboard.h"

#include <QHash>

#include <functional>

namespace tolvex::testing {

// A pasteboard whose items the test sets; every set raises the change count
// as a write by another program would. Read at once, on the calling thread.
// `onRead` runs before each data read, so a test can change the pasteboard in
// the middle of one.
class ScriptedPasteboard : public Pasteboard {
public:
    using Entries = QList<std::pair<QString, std::optional<QByteArray>>>;

    std::int64_t changeCount() const override { return changeCount_; }
    QFuture<void> readItems(ItemsReader read) const override { return readAtOnce(items(), read); }
    QList<PasteboardItem> items() const
    {
        QList<PasteboardItem> items;
        for (const Entries& entries : items_) {
            QStringList types;
            QHash<QString, std::optional<QByteArray>> values;
            for (const auto& [type, value] : entries) {
                types.append(type);
                values.insert(type, value);
            }
            items.append(PasteboardItem(types, [values, this](const QString& type, qsizetype maximum) {
                if (onRead)
                    onRead();
                std::optional<QByteArray> value = values.value(type);
                if (value && value->size() > maximum)
                    value->truncate(maximum);
                return value;
            }));
        }
        return items;
    }

    void set(QList<Entries> items)
    {
        items_ = std::move(items);
        ++changeCount_;
    }
    void bump() { ++changeCount_; }

    std::function<void()> onRead;

private:
    QList<Entries> items_;
    std::int64_t changeCount_ = 0;
};

inline ScriptedPasteboard::Entries textItem(const QByteArray& utf8)
{
    return {{QString::fromUtf16(PasteboardType::string), utf8}};
}

inline ScriptedPasteboard::Entries fileItem(const QString& url)
{
    return {{QString::fromUtf16(PasteboardType::fileURL), url.toUtf8()}};
}

inline ScriptedPasteboard::Entries marked(ScriptedPasteboard::Entries entries)
{
    entries.append({QString::fromUtf16(PasteboardType::ownCopy), QByteArrayLiteral("1")});
    return entries;
}

} // namespace tolvex::testing
