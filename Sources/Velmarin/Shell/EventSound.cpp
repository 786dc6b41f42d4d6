#include "Velmarin/Shell/EventSound.h"

#include "Velmarin/Common/UserDefaults.h"
#include "Velmarin/Shelf/Line.h"

namespace tolvex {

void EventSound::playUnlessQuiet(const Line& line, const UserDefaults& defaults)
{
    if (line.isCovered() || defaults.boolValue(QString::fromLatin1(soundOffKey)))
        return;
    play();
}

} // namespace tolvex
