#include "Velmarin/Platform/CanberraSound.h"

#include "TolvexCore/Startup/AppBundle.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <canberra.h>

namespace tolvex {

QString CanberraSound::defaultSoundFile()
{
    const QString relative = QStringLiteral("Sounds/pop.wav");
    if (const std::optional<QString> resources = AppBundle::main().resourceFolder()) {
        const QString installed = *resources + QLatin1Char('/') + relative;
        if (QFileInfo::exists(installed))
            return installed;
    }
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + relative;
}

CanberraSound::CanberraSound(QString soundFile) : soundFile_(std::move(soundFile))
{
    if (ca_context_create(&context_) != CA_SUCCESS)
        context_ = nullptr;
}

CanberraSound::~CanberraSound()
{
    if (context_)
        ca_context_destroy(context_);
}

void CanberraSound::play()
{
    if (!context_ || !QFileInfo::exists(soundFile_))
        return;
    // Asynchronous; a failure (no device, no server) is only silence.
    ca_context_play(context_, 0, CA_PROP_MEDIA_FILENAME, soundFile_.toLocal8Bit().constData(),
        CA_PROP_EVENT_DESCRIPTION, "Tolvex", CA_PROP_MEDIA_ROLE, "event", nullptr);
}

} // namespace tolvex
