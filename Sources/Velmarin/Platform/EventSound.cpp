#include "Velmarin/Platform/EventSound.h"

#include "Velmarin/Common/UserDefaults.h"

namespace tolvex {

void EventSound::playUnlessQuiet(bool covered, const UserDefaults& defaults)
{
    if (covered || defaults.boolValue(QString::fromLatin1(soundOffKey)))
        return;
    play();
}

} // namespace tolvex
