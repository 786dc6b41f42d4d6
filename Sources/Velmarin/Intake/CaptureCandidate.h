#pragma once

#include "TolvexCore/Model/Date.h"

#include <QDir>
#include <QImage>
#include <QString>
#include <QUrl>

#include <cstdint>

namespace tolvex {

// What one probe found of a file in the watched folder.
struct CaptureCandidate {
    QUrl url;
    std::int64_t byteCount = 0;
    Date modificationDate;
    // The bytes were read whole and decode as an image.
    bool decodable = false;
    // The file carries the screen-capture attribute.
    bool systemScreenshotMarked = false;
    // The bytes are a whole image by its structure, of more pixels than the
    // budget allows: finished, but never to be taken as it is.
    bool overBudget = false;

    friend bool operator==(const CaptureCandidate&, const CaptureCandidate&) = default;
};

// The one decode of a capture, kept for its card: image 0 whole, with its
// orientation applied, and the SHA-256 of the bytes it was decoded from, so
// that it is used only for a payload with exactly those bytes. The type the
// bytes were decoded as says how a picture of them is made.
struct CapturePicture {
    QString sha256;
    QImage image;
    QString typeIdentifier;
};

// The intake's answer to one probe. `failed`: the file did not become a
// whole image in time; `tooLarge`: it is a whole image over the pixel
// budget, which no retry could take.
struct CaptureDecision {
    enum class Case { ready, wait, ignore, failed, tooLarge };

    Case kind = Case::wait;
    // The standardized URL to import, for `ready` only.
    QUrl url;

    static CaptureDecision ready(QUrl url) { return {Case::ready, std::move(url)}; }
    static CaptureDecision wait() { return {Case::wait, {}}; }
    static CaptureDecision ignore() { return {Case::ignore, {}}; }
    static CaptureDecision failed() { return {Case::failed, {}}; }
    static CaptureDecision tooLarge() { return {Case::tooLarge, {}}; }

    friend bool operator==(const CaptureDecision&, const CaptureDecision&) = default;
};

// One spelling per file: dot segments and doubled or trailing slashes
// resolved, so that every form of a path finds the same history entry.
inline QUrl standardizedFileURL(const QUrl& url)
{
    if (!url.isLocalFile())
        return url;
    return QUrl::fromLocalFile(QDir::cleanPath(url.toLocalFile()));
}

} // namespace tolvex
