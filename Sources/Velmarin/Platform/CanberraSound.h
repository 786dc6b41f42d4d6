#pragma once

#include "Velmarin/Platform/EventSound.h"

#include <QString>

struct ca_context;

namespace tolvex {

// The event sound through libcanberra, which follows the desktop's sound
// settings. The sound file is the program's own; without it, an audio
// device or a sound server, play() stays silent.
class CanberraSound final : public EventSound {
public:
    // The program's sound: below the installed resources, else beside the executable.
    static QString defaultSoundFile();

    explicit CanberraSound(QString soundFile = defaultSoundFile());
    ~CanberraSound() override;
    CanberraSound(const CanberraSound&) = delete;
    CanberraSound& operator=(const CanberraSound&) = delete;

    void play() override;

private:
    QString soundFile_;
    ca_context* context_ = nullptr;
};

} // namespace tolvex
