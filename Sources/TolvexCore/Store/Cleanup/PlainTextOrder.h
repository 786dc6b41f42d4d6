#pragma once

#include <QList>
#include <QString>

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

// The one order in which the store sorts texts (file names, relative paths):
// Unicode scalar values of the canonical composed form, case-sensitive, not
// locale-aware. QString's own operator< compares UTF-16 code units, which
// puts characters beyond U+FFFF before U+E000..U+FFFF; this does not.
namespace tolvex::PlainTextOrder {

inline std::u32string key(const QString& text)
{
    const QList<uint> scalars = text.normalized(QString::NormalizationForm_C).toUcs4();
    return std::u32string(scalars.begin(), scalars.end());
}

inline bool less(const QString& a, const QString& b)
{
    return key(a) < key(b);
}

// Sorts `items` stably by the text `textOf` gives for each; every key is
// computed once.
template <typename T, typename TextOf>
void stableSortBy(QList<T>& items, TextOf textOf)
{
    std::vector<std::u32string> keys;
    keys.reserve(static_cast<std::size_t>(items.size()));
    for (const T& item : items)
        keys.push_back(key(textOf(item)));
    std::vector<std::size_t> order(keys.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&keys](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
    QList<T> sorted;
    sorted.reserve(items.size());
    for (const std::size_t index : order)
        sorted.append(std::move(items[static_cast<qsizetype>(index)]));
    items = std::move(sorted);
}

} // namespace tolvex::PlainTextOrder
