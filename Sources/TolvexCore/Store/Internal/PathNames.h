#pragma once

#include <QStringView>

namespace tolvex {

// The extension of a file name as the data root's rules read it: the text
// after the last dot; a name that only starts with a dot (".json") has none.
inline QStringView pathExtension(QStringView fileName)
{
    const qsizetype dot = fileName.lastIndexOf(u'.');
    return dot > 0 ? fileName.mid(dot + 1) : QStringView();
}

} // namespace tolvex
