#include "StoreTesting.h"
#include "Support/ForwardingFileOperations.h"

#include "TolvexCore/Files/VolumeLocality.h"

#include <filesystem>
#include <sys/stat.h>
#include <sys/time.h>

using namespace tolvex;
using namespace tolvex::testing;

namespace {

class ClipboardSettingsTest : public StoreTestCase {
protected:
    ClipboardPreference read(MaterialStore& store) { return waitForResult(store.clipboardPreferences()); }
    void save(MaterialStore& store, const ClipboardPreference& preference)
    {
        waitForResult(store.setClipboardPreferences(preference));
    }
    ClipboardFileFingerprint fingerprint(MaterialStore& store, const QUrl& url)
    {
        return waitForResult(store.clipboardFileFingerprint(url));
    }
};

// Moves the file's modification time forward each time the file is read, as
// a program writing to it meanwhile would.
class TouchingOnRead final : public tolvex::testing::ForwardingFileOperations {
public:
    explicit TouchingOnRead(QString target) : target_(std::move(target)) {}
    QByteArray read(const QUrl& url) const override
    {
        QByteArray bytes = inner->read(url);
        touch(url);
        return bytes;
    }
    void read(const OpenFile& file, const Consumer& consume, std::int64_t maximumBytes) const override
    {
        inner->read(file, consume, maximumBytes);
        touch(file.url());
    }
    void createDirectory(const QUrl& url) const override { inner_->createDirectory(url); }
    void copy(const QUrl& source, const QUrl& destination) const override { inner_->copy(source, destination); }
    void move(const QUrl& source, const QUrl& destination) const override { inner_->move(source, destination); }
    void writeAtomic(const QByteArray& bytes, const QUrl& url) const override { inner_->writeAtomic(bytes, url); }
    std::int64_t availableBytes(const QUrl& url) const override { return inner_->availableBytes(url); }
    QUrl trash(const QUrl& url) const override { return inner_->trash(url); }
    QList<QUrl> list(const QUrl& url) const override { return inner_->list(url); }

private:
    void touch(const QUrl& url) const
    {
        if (url.toLocalFile() == target_) {
            const struct timeval later[2] = {{2000000000, 0}, {2000000000, 0}};
            ::utimes(QFile::encodeName(target_).constData(), later);
        }
    }

    QString target_;
    FileOperationsRef inner_ = SystemFileOperations::shared();
};

} // namespace

TEST_F(ClipboardSettingsTest, TheDefaultDependsOnWhetherAWorkspaceExisted)
{
    {
        auto store = makeStore();
        EXPECT_EQ(read(*store), ClipboardPreference(false, true, true, true, true));
        EXPECT_TRUE(exists("clipboard-settings.json"));
        EXPECT_EQ(Json::decode<ClipboardPreference>(bytes("clipboard-settings.json")), read(*store));
    }
    QFile::remove(path("clipboard-settings.json"));
    builder().writeState();
    auto store = makeStore();
    EXPECT_TRUE(read(*store).enabled);
    EXPECT_FALSE(exists("clipboard-settings.previous.json"));

    // Without a loadable workspace there are no settings either.
    builder().writeStateBytes("{");
    store.reset();
    auto broken = makeStore();
    EXPECT_TRUE(throwsStoreError([&] { read(*broken); }, StoreError::Code::recoveryRequired));
}

TEST_F(ClipboardSettingsTest, ASettingsFileIsReadOnlyWhenSmallAndWellFormed)
{
    builder().writeState();
    auto store = makeStore();
    const QByteArray version2 = R"({"version":2,"enabled":true,"images":false,"text":true,"files":false,"includeExisting":false})";
    QByteArray padded = version2;
    padded.append(QByteArray(4096 - padded.size(), ' '));
    builder().writeFile("clipboard-settings.json", padded);
    EXPECT_EQ(read(*store), ClipboardPreference(true, false, true, false, false));
    builder().writeFile("clipboard-settings.json", padded + ' ');
    EXPECT_TRUE(throwsStoreError([&] { read(*store); }, StoreError::Code::recoveryRequired)) << "4,097 bytes";

    builder().writeFile("clipboard-settings.json", R"({"version":1,"enabled":false,"images":false})");
    const ClipboardPreference upgraded = read(*store);
    EXPECT_EQ(upgraded.version, 2);
    EXPECT_EQ(upgraded, ClipboardPreference(false, true, true, true, true));
    EXPECT_EQ(bytes("clipboard-settings.json"), R"({"version":1,"enabled":false,"images":false})") << "not rewritten by a read";

    for (const QByteArray& bad : {QByteArray(R"({"version":3,"enabled":true})"),
             QByteArray(R"({"version":2,"enabled":true,"images":true,"text":true,"files":true})"),
             QByteArray("not json")}) {
        builder().writeFile("clipboard-settings.json", bad);
        EXPECT_TRUE(throwsStoreError([&] { read(*store); }, StoreError::Code::recoveryRequired)) << bad.constData();
        // Nor is a damaged file overwritten by a save.
        EXPECT_TRUE(throwsStoreError([&] { save(*store, ClipboardPreference(true, true, true, true, true)); },
            StoreError::Code::recoveryRequired));
        EXPECT_EQ(bytes("clipboard-settings.json"), bad);
        EXPECT_FALSE(exists("clipboard-settings.previous.json"));
    }
    QFile::remove(path("clipboard-settings.json"));
    QDir().mkpath(path("clipboard-settings.json"));
    EXPECT_TRUE(throwsStoreError([&] { read(*store); }, StoreError::Code::recoveryRequired));
}

TEST_F(ClipboardSettingsTest, EverySaveKeepsTheBytesItReplaced)
{
    auto store = makeStore();
    ClipboardPreference older;
    older.version = 1;
    EXPECT_TRUE(throwsStoreError([&] { save(*store, older); }, StoreError::Code::unsupportedSchema));
    EXPECT_FALSE(exists("clipboard-settings.json")) << "a refused save writes nothing, not even the default";

    // The first save copies the default it just wrote.
    save(*store, ClipboardPreference(true, false, false, true, true));
    EXPECT_EQ(Json::decode<ClipboardPreference>(bytes("clipboard-settings.previous.json")),
        ClipboardPreference(false, true, true, true, true));
    const QByteArray saved = bytes("clipboard-settings.json");
    EXPECT_EQ(Json::decode<ClipboardPreference>(saved), ClipboardPreference(true, false, false, true, true));

    waitForResult(store->setClipboardEnabled(false));
    EXPECT_EQ(bytes("clipboard-settings.previous.json"), saved);
    EXPECT_EQ(read(*store), ClipboardPreference(false, false, false, true, true)) << "only `enabled` changed";
    waitForResult(store->setClipboardEnabled(true));
    EXPECT_TRUE(waitForResult(store->clipboardEnabled()));
    EXPECT_EQ(read(*store), ClipboardPreference(true, false, false, true, true));
}

TEST_F(ClipboardSettingsTest, SettingsWorkWhileTheStoreIsHeldButFingerprintsDoNot)
{
    const QString file = writeOutside("copied.txt", "copied");
    auto store = makeStore();
    load(*store);
    waitForResult(store->executor().run([](StoreContext& context) { context.busy = true; }));
    EXPECT_NO_THROW(read(*store));
    EXPECT_NO_THROW(save(*store, ClipboardPreference(true, true, true, true, false)));
    EXPECT_TRUE(throwsStoreError([&] { fingerprint(*store, QUrl::fromLocalFile(file)); },
        StoreError::Code::operationInProgress));
}

TEST_F(ClipboardSettingsTest, AFingerprintIsTakenOnlyOfAStableLocalRegularFile)
{
    const QString file = writeOutside("copied.txt", "copied bytes");
    auto store = makeStore();
    const ClipboardFileFingerprint print = fingerprint(*store, QUrl::fromLocalFile(file));
    EXPECT_TRUE(print.info.isRegularFile);
    EXPECT_FALSE(print.info.isSymbolicLink);
    EXPECT_EQ(print.info.byteCount, 12);
    EXPECT_EQ(print.info, SystemFileOperations().inspect(QUrl::fromLocalFile(file)));
    EXPECT_EQ(print.sha256, DataRootBuilder::digest("copied bytes"));

    EXPECT_EQ(fingerprint(*store, QUrl(QStringLiteral("file://localhost") + file)), print);
    EXPECT_TRUE(throwsStoreError([&] { fingerprint(*store, QUrl(QStringLiteral("file://elsewhere.example") + file)); },
        StoreError::Code::invalidPath));
    EXPECT_TRUE(throwsStoreError([&] { fingerprint(*store, QUrl(QStringLiteral("https://example.com/a.txt"))); },
        StoreError::Code::invalidPath));
    EXPECT_TRUE(throwsStoreError([&] { fingerprint(*store, QUrl::fromLocalFile(temporary.path())); },
        StoreError::Code::invalidSource));
    const QString link = temporary.path() + QStringLiteral("/link.txt");
    std::filesystem::create_symlink(file.toStdString(), link.toStdString());
    EXPECT_TRUE(throwsStoreError([&] { fingerprint(*store, QUrl::fromLocalFile(link)); }, StoreError::Code::invalidSource));
    EXPECT_TRUE(throwsFileError([&] { fingerprint(*store, QUrl::fromLocalFile(temporary.path() + "/gone")); },
        std::errc::no_such_file_or_directory));

    auto touching = std::make_shared<TouchingOnRead>(file);
    store.reset();
    auto watched = makeStore(touching);
    EXPECT_TRUE(throwsStoreError([&] { fingerprint(*watched, QUrl::fromLocalFile(file)); }, StoreError::Code::sourceChanged));
}

TEST_F(ClipboardSettingsTest, AFingerprintIsCappedAt64MiBOrThePerFileBudget)
{
    const QString atCap = temporary.path() + QStringLiteral("/at-cap.bin");
    QFile capFile(atCap);
    ASSERT_TRUE(capFile.open(QIODevice::WriteOnly));
    ASSERT_TRUE(capFile.resize(67108864));
    capFile.close();

    StorageBudget standard = StorageBudget::standard();
    standard.minimumFreeBytes = 0;
    auto store = makeStore(SystemFileOperations::shared(), standard);
    EXPECT_EQ(fingerprint(*store, QUrl::fromLocalFile(atCap)).info.byteCount, 67108864);
    ASSERT_TRUE(capFile.resize(67108865));
    EXPECT_TRUE(throwsStoreError([&] { fingerprint(*store, QUrl::fromLocalFile(atCap)); }, StoreError::Code::budgetExceeded));

    StorageBudget tiny = roomyBudget();
    tiny.maxFileBytes = 1000;
    store.reset();
    auto small = makeStore(SystemFileOperations::shared(), tiny);
    EXPECT_NO_THROW(fingerprint(*small, QUrl::fromLocalFile(writeOutside("a", QByteArray(1000, 'a')))));
    EXPECT_TRUE(throwsStoreError([&] { fingerprint(*small, QUrl::fromLocalFile(writeOutside("b", QByteArray(1001, 'b')))); },
        StoreError::Code::budgetExceeded));
}

TEST(VolumeLocalityTest, NetworkVolumesAreToldByTypeAndFuseHelper)
{
    EXPECT_TRUE(VolumeLocality::volumeIsLocal(QDir::tempPath()));
    EXPECT_THROW(VolumeLocality::volumeIsLocal(QStringLiteral("/no/such/place/at/all")), std::system_error);

    EXPECT_TRUE(VolumeLocality::isNetworkFilesystemMagic(0x6969)); // NFS
    EXPECT_TRUE(VolumeLocality::isNetworkFilesystemMagic(0xFF534D42)); // CIFS
    EXPECT_TRUE(VolumeLocality::isNetworkFilesystemMagic(0xFE534D42)); // SMB2
    EXPECT_TRUE(VolumeLocality::isNetworkFilesystemMagic(0x01021997)); // 9P
    EXPECT_FALSE(VolumeLocality::isNetworkFilesystemMagic(0xEF53)); // ext4
    EXPECT_FALSE(VolumeLocality::isNetworkFilesystemMagic(0x01021994)); // tmpfs
    EXPECT_FALSE(VolumeLocality::isNetworkFilesystemMagic(0x65735546)) << "FUSE is decided by its helper";

    EXPECT_TRUE(VolumeLocality::isNetworkFuseType(u"fuse.sshfs"));
    EXPECT_TRUE(VolumeLocality::isNetworkFuseType(u"fuse.rclone"));
    EXPECT_FALSE(VolumeLocality::isNetworkFuseType(u"fuse.ntfs-3g"));
    EXPECT_FALSE(VolumeLocality::isNetworkFuseType(u"fuseblk"));
    EXPECT_FALSE(VolumeLocality::isNetworkFuseType(u"sshfs"));

    const QByteArray mountInfo =
        "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "40 22 0:45 / /home/u/remote rw,nosuid,nodev,relatime shared:20 - fuse.sshfs u@host:/ rw,user_id=0\n"
        "41 22 0:46 / /mnt/odd rw - fuse.thing thing rw\n";
    EXPECT_EQ(VolumeLocality::mountType(mountInfo, 8, 1), QStringLiteral("ext4"));
    EXPECT_EQ(VolumeLocality::mountType(mountInfo, 0, 45), QStringLiteral("fuse.sshfs"));
    EXPECT_EQ(VolumeLocality::mountType(mountInfo, 0, 46), QStringLiteral("fuse.thing"));
    EXPECT_FALSE(VolumeLocality::mountType(mountInfo, 0, 47));
}
