#pragma once

#include "Velmarin/Platform/Pasteboard.h"

#include <QByteArray>
#include <QString>

namespace tolvex {

// Carried beside every copy and drag the program makes, so that its own
// clipboard intake recognises the content and does not take it back in.
inline const QString ownedCopyMimeType = QString::fromUtf16(PasteboardType::ownCopy);
inline const QByteArray ownedCopyValue = QByteArrayLiteral("1");

} // namespace tolvex
