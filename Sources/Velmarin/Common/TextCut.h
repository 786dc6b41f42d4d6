#pragma once

#include <QString>

namespace tolvex {

// The first `maxUnits` UTF-16 code units of `text`, one fewer when the cut
// would fall between the two halves of a surrogate pair: a title shortened
// for a row or a menu never ends in half a character.
inline QString cutAtCharacter(const QString& text, qsizetype maxUnits)
{
    if (maxUnits <= 0)
        return {};
    if (text.size() <= maxUnits)
        return text;
    qsizetype end = maxUnits;
    if (text.at(end - 1).isHighSurrogate() && text.at(end).isLowSurrogate())
        --end;
    return text.left(end);
}

} // namespace tolvex
