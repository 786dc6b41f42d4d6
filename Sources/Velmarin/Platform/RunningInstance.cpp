#include "Velmarin/Platform/RunningInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>

namespace tolvex {

namespace {

constexpr char request[] = "show\n";
constexpr char answer[] = "shown\n";
// Longer than any request; a peer that sends more is not one of ours.
constexpr qint64 longestLine = 64;

} // namespace

RunningInstance::RunningInstance(const QString& dataRootPath, std::function<void()> onShowRequest)
    : onShowRequest_(std::move(onShowRequest))
{
    const QString path = socketPath(dataRootPath);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, &RunningInstance::acceptPending);
    if (!server_.listen(path) && server_.serverError() == QAbstractSocket::AddressInUseError) {
        // We hold the root's lock: the socket is a dead owner's.
        QLocalServer::removeServer(path);
        server_.listen(path);
    }
}

RunningInstance::~RunningInstance()
{
    server_.close();
}

QString RunningInstance::socketPath(const QString& dataRootPath)
{
    QString canonical = QFileInfo(dataRootPath).canonicalFilePath();
    if (canonical.isEmpty())
        canonical = QDir::cleanPath(QFileInfo(dataRootPath).absoluteFilePath());
    const QByteArray hash = QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha256).toHex().left(32);
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return QDir(folder).filePath(QStringLiteral("tolvex-") + QString::fromLatin1(hash));
}

void RunningInstance::acceptPending()
{
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(idlePeerMs, socket, [socket] { socket->abort(); });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > longestLine)
                    socket->abort();
                return;
            }
            if (socket->readLine(longestLine) == request) {
                if (onShowRequest_)
                    onShowRequest_();
                socket->write(answer);
            }
            socket->disconnectFromServer();
        });
    }
}

bool RunningInstance::askToShow(const QString& dataRootPath, int deadlineMs)
{
    const QDeadlineTimer deadline(deadlineMs);
    QLocalSocket socket;
    socket.connectToServer(socketPath(dataRootPath));
    if (!socket.waitForConnected(static_cast<int>(deadline.remainingTime())))
        return false;
    socket.write(request);
    if (!socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime())))
        return false;
    while (!socket.canReadLine()) {
        if (deadline.hasExpired() || !socket.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
            return false;
    }
    return socket.readLine(longestLine) == answer;
}

} // namespace tolvex
