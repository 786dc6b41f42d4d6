#pragma once

#include "Support/EventLoopWait.h"

#include <QByteArray>
#include <QFile>
#include <QString>

namespace tolvex::testing {

// Runs the event loop for a while, for checks that something does not happen.
inline void spinFor(int milliseconds)
{
    waitUntil([] { return false; }, milliseconds);
}

inline void writeFile(const QString& path, const QByteArray& bytes, QIODevice::OpenMode mode = QIODevice::WriteOnly)
{
    QFile file(path);
    if (!file.open(mode) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

} // namespace tolvex::testing
