#include "Velmarin/Presentation/NameOnlyFileIconProvider.h"

#include "Support/EventLoopWait.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileSystemModel>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeDatabase>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tolvex {
namespace {

using testing::waitUntil;

// Entries whose names do not settle their type, so that a type sniffer
// would look inside, in a folder of their own within a temporary one.
// inotify reports every open and read of them: the folders are this
// process's own, so whatever it reports, this process did.
class WatchedFolder {
public:
    WatchedFolder()
    {
        QDir(root_.path()).mkdir(QStringLiteral("entries"));
        write(QStringLiteral("picture"), QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
        // Named as in /proc, and of size 0 to stat, as every file there is.
        write(QStringLiteral("kmsg"), {});
        // Claimed by two types: a video stream and a translation.
        write(QStringLiteral("recording.ts"), "hello");
        QFile::link(filePath(QStringLiteral("picture")), filePath(QStringLiteral("shortcut")));
        // Opening a FIFO with nothing at its other end would not return.
        ::mkfifo(QFile::encodeName(filePath(QStringLiteral("pipe"))).constData(), 0600);
        watch_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ::inotify_add_watch(watch_, QFile::encodeName(path()).constData(), IN_OPEN | IN_ACCESS);
    }
    ~WatchedFolder() { ::close(watch_); }
    WatchedFolder(const WatchedFolder&) = delete;
    WatchedFolder& operator=(const WatchedFolder&) = delete;

    bool isWatched() const { return root_.isValid() && watch_ >= 0; }
    // The folder that holds the folder of entries, and nothing else.
    QString parentPath() const { return root_.path(); }
    QString path() const { return root_.filePath(QStringLiteral("entries")); }
    QString filePath(const QString& name) const { return path() + QLatin1Char('/') + name; }

    // The entries opened or read since the last call (not the folder itself,
    // which a listing opens).
    std::vector<std::string> touched()
    {
        std::vector<std::string> names;
        alignas(inotify_event) char buffer[4096];
        ssize_t length = 0;
        while ((length = ::read(watch_, buffer, sizeof buffer)) > 0) {
            for (const char* at = buffer; at < buffer + length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                if (event->len > 0 && std::find(names.begin(), names.end(), event->name) == names.end())
                    names.emplace_back(event->name);
                at += sizeof(inotify_event) + event->len;
            }
        }
        return names;
    }

private:
    void write(const QString& name, const QByteArray& bytes)
    {
        QFile file(filePath(name));
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
    }

    QTemporaryDir root_;
    int watch_ = -1;
};

std::unique_ptr<QFileDialog> dialogWithProvider(bool installed)
{
    auto dialog = std::make_unique<QFileDialog>();
    if (installed)
        NameOnlyFileIconProvider::install(*dialog);
    else
        dialog->setOption(QFileDialog::DontUseNativeDialog);
    return dialog;
}

bool sameIcon(const QIcon& a, const QIcon& b)
{
    return !a.isNull() && a.pixmap(16).toImage() == b.pixmap(16).toImage();
}

// Qt's own provider stands beside ours: it opens what ours must not, which
// shows that the watch sees an open when there is one.
TEST(NameOnlyFileIconProviderTests, NeitherKindNorIconOpensTheEntry)
{
    WatchedFolder folder;
    ASSERT_TRUE(folder.isWatched());
    const auto dialog = dialogWithProvider(true);
    const QFileIconProvider qtProvider;
    const struct {
        const char* name;
        bool qtOpens;
    } cases[] = {
        {"picture", true},
        {"kmsg", true},
        {"recording.ts", true},
        {"shortcut", true},
        {"pipe", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = folder.filePath(QString::fromLatin1(c.name));
        dialog->iconProvider()->type(QFileInfo(path));
        dialog->iconProvider()->icon(QFileInfo(path));
        EXPECT_EQ(folder.touched(), std::vector<std::string>());
        qtProvider.type(QFileInfo(path));
        qtProvider.icon(QFileInfo(path));
        EXPECT_EQ(!folder.touched().empty(), c.qtOpens);
    }
}

// What the name or stat settles is said as Qt says it; the rest is a file
// of no known type, never a blank.
TEST(NameOnlyFileIconProviderTests, KindAndIconFollowTheNameAndStat)
{
    QTemporaryDir folder;
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("folder")));
    for (const auto& [name, bytes] : {std::pair("notes.txt", "words"), std::pair("picture", "\x89PNG\r\n\x1a\n")}) {
        QFile file(folder.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    ASSERT_EQ(::mkfifo(QFile::encodeName(folder.filePath(QStringLiteral("pipe"))).constData(), 0600), 0);
    const auto dialog = dialogWithProvider(true);
    const QAbstractFileIconProvider& provider = *dialog->iconProvider();
    const QString unknownKind = QMimeDatabase().mimeTypeForName(QStringLiteral("application/octet-stream")).comment();
    using IconType = QAbstractFileIconProvider::IconType;
    const struct {
        const char* name;
        QString path;
        bool kindAsQtSays;
        std::optional<IconType> standardIcon;
    } cases[] = {
        {"a name with a type", folder.filePath(QStringLiteral("notes.txt")), true, std::nullopt},
        {"a folder", folder.filePath(QStringLiteral("folder")), true, IconType::Folder},
        {"a drive", QStringLiteral("/"), true, IconType::Drive},
        {"a FIFO", folder.filePath(QStringLiteral("pipe")), true, IconType::File},
        {"a name without one", folder.filePath(QStringLiteral("picture")), false, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QFileInfo info(c.path);
        EXPECT_EQ(provider.type(info), c.kindAsQtSays ? QFileIconProvider().type(info) : unknownKind);
        const QIcon icon = provider.icon(info);
        EXPECT_FALSE(icon.isNull());
        if (c.standardIcon)
            EXPECT_TRUE(sameIcon(icon, provider.icon(*c.standardIcon)));
        else
            EXPECT_FALSE(sameIcon(icon, provider.icon(IconType::Folder)));
    }
}

// Types `text` as the keyboard would, so that the line edit's completer
// follows it as well as the dialog.
void type(QLineEdit& edit, const QString& text)
{
    for (const QChar character : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(character));
        QCoreApplication::sendEvent(&edit, &press);
    }
}

// The dialog asks its provider, on the GUI thread, about every entry it
// lists and about a path being typed, in a folder it has not listed yet, the
// moment it completes it. Qt's provider, in a dialog not prepared, shows that
// both reach the files.
TEST(NameOnlyFileIconProviderTests, ADialogListingOrCompletingATypedPathOpensNoFile)
{
    const QStringList typed = {QStringLiteral("picture"), QStringLiteral("kmsg"), QStringLiteral("recording.ts"),
        QStringLiteral("shortcut")};
    const struct {
        const char* name;
        bool installed;
        bool typing;
    } cases[] = {
        {"listed, installed", true, false},
        {"typed, installed", true, true},
        {"listed, Qt's provider", false, false},
        {"typed, Qt's provider", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WatchedFolder folder;
        ASSERT_TRUE(folder.isWatched());
        const auto dialog = dialogWithProvider(c.installed);
        dialog->setFileMode(QFileDialog::ExistingFiles);
        auto* model = dialog->findChild<QFileSystemModel*>();
        auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_TRUE(model && edit);
        QStringList loaded;
        QObject::connect(model, &QFileSystemModel::directoryLoaded, dialog.get(),
            [&loaded](const QString& path) { loaded.append(path); });
        const QString shown = c.typing ? folder.parentPath() : folder.path();
        dialog->setDirectory(shown);
        dialog->show();
        ASSERT_TRUE(waitUntil([&] { return loaded.contains(shown); }));
        if (c.typing) {
            ASSERT_EQ(folder.touched(), std::vector<std::string>()) << "the entries' folder is not listed yet";
            for (const QString& name : typed) {
                edit->clear();
                type(*edit, folder.filePath(name));
            }
            // The completer has the folder typed into listed.
            ASSERT_TRUE(waitUntil([&] { return loaded.contains(folder.path()); }));
        }
        const std::vector<std::string> touched = folder.touched();
        EXPECT_EQ(touched.empty(), c.installed) << ::testing::PrintToString(touched);
        dialog->reject();
    }
}

} // namespace
} // namespace tolvex
