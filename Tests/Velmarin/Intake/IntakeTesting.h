#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QString>
#include <QThread>

#include <functional>

namespace tolvex::testing {

// Runs the event loop until `done` holds or the deadline passes; answers `done`.
inline bool spinUntil(const std::function<bool()>& done, int milliseconds = 10000)
{
    QDeadlineTimer deadline(milliseconds);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

// Runs the event loop for a while, for checks that something does not happen.
inline void spinFor(int milliseconds)
{
    spinUntil([] { return false; }, milliseconds);
}

inline void writeFile(const QString& path, const QByteArray& bytes, QIODevice::OpenMode mode = QIODevice::WriteOnly)
{
    QFile file(path);
    if (!file.open(mode) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

} // namespace tolvex::testing
