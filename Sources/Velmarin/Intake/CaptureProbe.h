#pragma once

#include "TolvexCore/Images/ImageAdmission.h"
#include "Velmarin/Intake/CaptureCandidate.h"

#include <QElapsedTimer>
#include <QFuture>
#include <QHash>
#include <QThreadPool>
#include <QUrl>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

namespace tolvex {

// Looks at one file of the watched folder, off the GUI thread, one file at a
// time on an executor of its own: its size and date, the screen-capture
// mark, and whether its bytes are a whole image that decodes. Never throws:
// an unusable file gives no candidate, an unreadable or broken one an
// undecodable candidate, and a whole image over the pixel budget an
// undecodable one that says so.
//
// A look costs a few system calls and the image's structure (its header,
// chunk or box tables and end markers), never a decode: a file that is
// structurally whole is decoded once, on the executor right after the look
// that first finds it in that state (size and modification date), while the
// intake waits for it to stay unchanged; a file found in a new state within
// `burstGap` of another one is decoded instead at the next look at that
// state, the one that may find it ready. Later looks at the same state
// answer what that decode found. So a file whose structure is whole but
// whose pixels do not decode is called decodable at the first look at that
// state only, and no decision of the intake can tell: a look that finds a
// new state (a first sighting or a change) always waits, and the decode has
// run before the next look. What a decode found is kept until the file
// changes, goes or is forgotten, so a file that failed is not seen afresh.
// The decoded picture goes with the looks of that state, for the card.
class CaptureProbe {
public:
    // 256 MiB; a file of exactly this size is still read.
    static constexpr std::int64_t maxByteCount = 268435456;
    static constexpr const char* screenCaptureAttribute = "user.com.apple.metadata:kMDItemIsScreenCapture";
    // Decoded pictures of waiting files are kept up to this many pixels in
    // all (128 MiB at four bytes a pixel); the oldest go first.
    static constexpr std::int64_t keptPixels = ImageAdmission::pixelBudget;
    // New states this close together are a burst (many files written or
    // moved in at once): decoding them all before the next look at the
    // first of them would hold every import back until the last decode.
    static constexpr double burstGap = 0.5;

    struct Look {
        std::optional<CaptureCandidate> candidate;
        // The picture decoded from the file in the state the candidate
        // describes, when that decode has run and succeeded.
        std::shared_ptr<const CapturePicture> picture;
    };

    CaptureProbe();
    // Waits for the look or decode under way.
    ~CaptureProbe();

    CaptureProbe(const CaptureProbe&) = delete;
    CaptureProbe& operator=(const CaptureProbe&) = delete;

    QFuture<Look> inspect(const QUrl& url, bool taggedOnly);
    // Drops what is known of the file: it was delivered, or is gone.
    void forget(const QUrl& url);
    // How many files have been read whole and decoded.
    int decodeCount() const { return decodes_; }

    // A complete look on the calling thread: the whole file read and decoded
    // every time, nothing remembered.
    static std::optional<CaptureCandidate> probe(const QUrl& url, bool taggedOnly);

private:
    // What is known of one file, in one state; touched on the executor only.
    struct Known {
        std::int64_t byteCount = 0;
        Date modificationDate;
        // The decode has run; `decodable` and `picture` are its answer.
        bool decoded = false;
        bool decodable = false;
        std::shared_ptr<const CapturePicture> picture;
        std::uint64_t age = 0;
        // Queued right after the look that found the state; otherwise the
        // next look at it decodes it.
        bool decodeQueued = false;
    };

    Look look(const QUrl& url, bool taggedOnly);
    void decode(const QUrl& url, std::int64_t byteCount, const Date& modificationDate);
    void keepPicturesWithinBudget();

    QHash<QUrl, Known> known_;
    // Since a look last found a file in a new state.
    QElapsedTimer sinceNewState_;
    std::uint64_t ages_ = 0;
    std::atomic<int> decodes_ = 0;
    std::atomic<bool> closing_ = false;
    QThreadPool executor_;
};

} // namespace tolvex
