// Revealing in the file manager over D-Bus, against a private bus of the
// test's own: the call is sent without waiting, and the folder is opened
// instead when there is no bus, no file manager, or a refusal; the reveal
// answers whether anything was shown.
#include "Support/EventLoopWait.h"
#include "Velmarin/Platform/FileManagerReveal.h"

#include <QCoro/QCoroTask>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusError>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace tolvex {
namespace {

using testing::waitUntil;

// Answers ShowItems: an error for an item whose name holds "refused".
class FakeFileManager : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QStringList shown;

public slots:
    void ShowItems(const QStringList& uris, const QString&)
    {
        shown += uris;
        if (uris.join(u' ').contains(QLatin1String("refused")))
            sendErrorReply(QDBusError::Failed, QStringLiteral("refused"));
    }
};

// A bus daemon of the test's own, with no services to start.
class PrivateBus {
public:
    PrivateBus()
    {
        const QString config = folder.filePath(QStringLiteral("bus.conf"));
        QFile file(config);
        file.open(QIODevice::WriteOnly);
        file.write(QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
                                  "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\"><busconfig>"
                                  "<type>session</type><listen>unix:dir=%1</listen><policy context=\"default\">"
                                  "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/><allow own=\"*\"/>"
                                  "</policy></busconfig>")
                       .arg(folder.path())
                       .toUtf8());
        file.close();
        daemon.start(QStringLiteral("dbus-daemon"),
            {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        if (daemon.waitForStarted() && waitUntil([&] { return daemon.canReadLine(); }))
            address = QString::fromUtf8(daemon.readLine()).trimmed();
    }
    ~PrivateBus()
    {
        for (const QString& name : connections)
            QDBusConnection::disconnectFromBus(name);
        daemon.kill();
        daemon.waitForFinished();
    }
    QDBusConnection connect(const QString& name)
    {
        connections.append(name);
        return QDBusConnection::connectToBus(address, name);
    }

    QTemporaryDir folder;
    QProcess daemon;
    QString address;
    QStringList connections;
};

TEST(FileManagerReveal, FallsBackToTheFolderUnlessTheFileManagerShowsTheItem)
{
    PrivateBus bus;
    ASSERT_FALSE(bus.address.isEmpty()) << "dbus-daemon did not start";
    QDBusConnection program = bus.connect(QStringLiteral("reveal-program"));
    ASSERT_TRUE(program.isConnected());
    QList<QUrl> folders;
    bool folderShown = true;
    const FolderOpener openFolder = [&folders, &folderShown](const QUrl& folder) -> QCoro::Task<bool> {
        folders.append(folder);
        co_return folderShown;
    };
    // Runs a reveal to its answer.
    const auto reveal = [&](const char* path, const QDBusConnection& over) {
        return QCoro::waitFor(revealInFileManager(QUrl::fromLocalFile(QString::fromUtf8(path)), over, openFolder));
    };

    // No bus at all: the folder at once, and its answer is the reveal's.
    const QDBusConnection none = QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"),
        QStringLiteral("reveal-nowhere"));
    EXPECT_TRUE(reveal("/data/a/one.png", none));
    EXPECT_EQ(folders, QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/data/a"))});
    folderShown = false;
    EXPECT_FALSE(reveal("/data/a/one.png", none));
    QDBusConnection::disconnectFromBus(QStringLiteral("reveal-nowhere"));

    // A bus without a file manager: the folder, once the bus has answered;
    // when the folder cannot be shown either, the reveal says so.
    folders.clear();
    EXPECT_FALSE(reveal("/data/b/two.png", program));
    EXPECT_EQ(folders, QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/data/b"))});

    // A file manager: the call returns before it is served; the item is
    // shown, and the folder opened only for a refusal.
    FakeFileManager manager;
    QDBusConnection desktop = bus.connect(QStringLiteral("reveal-desktop"));
    ASSERT_TRUE(desktop.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &manager,
        QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(desktop.registerService(QStringLiteral("org.freedesktop.FileManager1")));
    folders.clear();
    const QUrl shownItem = QUrl::fromLocalFile(QStringLiteral("/data/c d/three.png"));
    QCoro::Task<bool> showing = revealInFileManager(shownItem, program, openFolder);
    EXPECT_TRUE(manager.shown.isEmpty()) << "the reveal waited for the file manager";
    EXPECT_TRUE(QCoro::waitFor(std::move(showing)));
    EXPECT_TRUE(folders.isEmpty());
    EXPECT_FALSE(reveal("/data/e/refused.png", program));
    EXPECT_EQ(folders, QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/data/e"))});
    ASSERT_EQ(manager.shown.size(), 2);
    EXPECT_EQ(manager.shown.first(), QStringLiteral("file:///data/c%20d/three.png"));
}

} // namespace
} // namespace tolvex

#include "FileManagerRevealTests.moc"
