#pragma once

#include <QByteArray>
#include <QString>

namespace tolvex {

// Carried beside every copy and drag the program makes, so that its own
// clipboard intake recognises the content and does not take it back in.
inline const QString ownedCopyMimeType = QStringLiteral("application/x-local.tolvex.owned-copy");
inline const QByteArray ownedCopyValue = QByteArrayLiteral("1");

} // namespace tolvex
