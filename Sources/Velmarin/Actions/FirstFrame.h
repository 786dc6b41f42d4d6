#pragma once

#include <QByteArray>
#include <QUrl>

namespace tolvex {

// The first frame of an image file, encoded for the clipboard and drags.
struct FirstFrameRepresentations {
    QByteArray png;
    QByteArray tiff; // empty unless asked for
};

// Admits the file (ImageAdmission), decodes image 0 and encodes it as PNG
// and, when `withTiff`, as TIFF. ImageAdmissionError::invalidImage when it
// cannot be decoded or encoded. Decodes: never call it on the GUI thread.
FirstFrameRepresentations firstFrameRepresentations(const QUrl& contentsOf, bool withTiff = true);

} // namespace tolvex
