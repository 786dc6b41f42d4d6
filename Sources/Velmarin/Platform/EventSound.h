#pragma once

namespace tolvex {

class UserDefaults;

// The short sound of an arrival or an accepted command. The program's plays
// through the desktop's event sounds (Platform/); silent when there is no
// audio device, never an error.
class EventSound {
public:
    static inline constexpr const char* soundOffKey = "soundOff";

    virtual ~EventSound() = default;
    virtual void play() = 0;

    // Plays unless the user switched sounds off or the shelf is covered
    // (`covered`: the line's privacy cover is up).
    void playUnlessQuiet(bool covered, const UserDefaults& defaults);
};

} // namespace tolvex
