#pragma once

#include "TolvexCore/Model/UnicodeText.h"

#include <QString>
#include <QUrl>

#include <optional>

// Field comparisons shared by the records' equality operators: texts compare as
// canonically equivalent, URLs by their string form.
namespace tolvex::RecordEquality {

inline bool same(const QString& a, const QString& b)
{
    return UnicodeText::canonicallyEqual(a, b);
}

inline bool same(const QUrl& a, const QUrl& b)
{
    return a.toString(QUrl::FullyEncoded) == b.toString(QUrl::FullyEncoded);
}

template <typename T>
bool same(const T& a, const T& b)
{
    return a == b;
}

template <typename T>
bool same(const std::optional<T>& a, const std::optional<T>& b)
{
    if (a.has_value() != b.has_value())
        return false;
    return !a.has_value() || same(*a, *b);
}

} // namespace tolvex::RecordEquality
