#pragma once

#include "Velmarin/Intake/CaptureCandidate.h"

#include <QFuture>
#include <QThreadPool>
#include <QUrl>

#include <cstdint>
#include <optional>

namespace tolvex {

// Looks at one file of the watched folder, off the GUI thread, one file at a
// time on an executor of its own: its size and date, the screen-capture
// mark, and whether its bytes are a whole image that decodes. Never throws:
// an unusable file gives no candidate, an unreadable or broken one an
// undecodable candidate.
class CaptureProbe {
public:
    // 256 MiB; a file of exactly this size is still read.
    static constexpr std::int64_t maxByteCount = 268435456;
    static constexpr int testThumbnailPixels = 64;
    static constexpr const char* screenCaptureAttribute = "user.com.apple.metadata:kMDItemIsScreenCapture";

    CaptureProbe();
    // Waits for the probe under way.
    ~CaptureProbe();

    CaptureProbe(const CaptureProbe&) = delete;
    CaptureProbe& operator=(const CaptureProbe&) = delete;

    QFuture<std::optional<CaptureCandidate>> inspect(const QUrl& url, bool taggedOnly);

    // The probe itself, on the calling thread.
    static std::optional<CaptureCandidate> probe(const QUrl& url, bool taggedOnly);

private:
    QThreadPool executor_;
};

} // namespace tolvex
