#include "TolvexCore/Content/ContentStore.h"
#include "TolvexCore/Images/ImageAdmission.h"
#include "TolvexCore/Files/SystemFileOperations.h"
#include "TolvexCore/Model/UuidText.h"
#include "TolvexCore/Model/StoreError.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>

#include "Support/ForwardingFileOperations.h"

#include <gtest/gtest.h>

#include <functional>
#include <system_error>
#include <fcntl.h>
#include <sys/stat.h>

using namespace tolvex;

namespace {

// Delegates to the real file layer and lets a test act just before or after
// one kind of call, e.g. rewrite the source at the moment it is copied.
class HookedFileOperations final : public tolvex::testing::ForwardingFileOperations {
public:
    using Hook = std::function<void(const QUrl& first, const QUrl& second)>;

    QByteArray read(const QUrl& url) const override
    {
        ++reads;
        return inner->read(url);
    }
    void copy(const QUrl& source, const QUrl& destination) const override
    {
        if (beforeCopy)
            beforeCopy(source, destination);
        inner->copy(source, destination);
        if (afterCopy)
            afterCopy(source, destination);
    }
    OpenFile copy(const OpenFile& source, const QUrl& folder, const QString& relativePath, MissingFolders missing,
        std::int64_t maximumBytes) const override
    {
        const QUrl destination = QUrl::fromLocalFile(folder.toLocalFile() + u'/' + relativePath);
        if (beforeCopy)
            beforeCopy(source.url(), destination);
        OpenFile copied = inner->copy(source, folder, relativePath, missing, maximumBytes);
        if (afterCopy)
            afterCopy(source.url(), destination);
        return copied;
    }
    OpenFile open(const QUrl& url) const override
    {
        if (beforeOpen)
            beforeOpen(url, url);
        return inner->open(url);
    }
    void writeAtomic(const QByteArray& bytes, const QUrl& url) const override
    {
        inner->writeAtomic(bytes, url);
        if (afterWrite)
            afterWrite(url, url);
    }

    Hook beforeOpen;
    Hook beforeCopy;
    Hook afterCopy;
    Hook afterWrite;
    mutable int reads = 0;
};

template <typename Action>
std::optional<StoreError::Code> storeError(Action&& action)
{
    try {
        action();
    } catch (const StoreError& error) {
        return error.code();
    }
    return std::nullopt;
}

template <typename Action>
std::optional<ImageAdmissionError::Code> admissionError(Action&& action)
{
    try {
        action();
    } catch (const ImageAdmissionError& error) {
        return error.code();
    }
    return std::nullopt;
}

QByteArray pngBytes(int width = 4, int height = 3)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

const QByteArray pdfBytes = QByteArrayLiteral("%PDF-1.4\n1 0 obj << /Type /Catalog >> endobj\ntrailer << >>\n%%EOF\n");

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << qPrintable(path);
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class ContentStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(temporary.isValid());
        base = QDir(temporary.path()).canonicalPath();
        rootPath = base + QStringLiteral("/Tolvex");
        outside = base + QStringLiteral("/outside");
        for (const QString& folder : {rootPath + QStringLiteral("/Transactions"), rootPath + QStringLiteral("/Materials"), outside})
            ASSERT_TRUE(QDir().mkpath(folder));
    }

    ContentStore store() const { return ContentStore(QUrl::fromLocalFile(rootPath), files); }

    // Writes a file outside the data root and returns its URL.
    QUrl source(const QString& name, const QByteArray& bytes) const
    {
        writeFile(outside + u'/' + name, bytes);
        return QUrl::fromLocalFile(outside + u'/' + name);
    }

    StagedContent stageFile(const QString& name, const QByteArray& bytes) const
    {
        return store().stage(ImportRequest::file(source(name, bytes), ImportOrigin::drop));
    }

    QStringList transactionEntries() const
    {
        return QDir(rootPath + QStringLiteral("/Transactions"))
            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    }

    QStringList stagingFiles() const
    {
        return QDir(rootPath + QStringLiteral("/Transactions")).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }

    QTemporaryDir temporary;
    QString base;
    QString rootPath;
    QString outside;
    std::shared_ptr<HookedFileOperations> files = std::make_shared<HookedFileOperations>();
};

} // namespace

TEST(ContentStoreStaticsTest, DigestIsLowerCaseSha256Hex)
{
    EXPECT_EQ(ContentStore::digest(QByteArray()),
        QStringLiteral("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
    EXPECT_EQ(ContentStore::digest("abc"), QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
}

TEST(ContentStoreStaticsTest, StagingFilenamesAreExactlyUpperCaseUuidDotStage)
{
    const QString upper = QStringLiteral("0A1B2C3D-4E5F-6A7B-8C9D-0E1F2A3B4C5D");
    EXPECT_TRUE(ContentStore::isStagingFilename(upper + QStringLiteral(".stage")));
    EXPECT_FALSE(ContentStore::isStagingFilename(upper.toLower() + QStringLiteral(".stage")));
    EXPECT_FALSE(ContentStore::isStagingFilename(upper + QStringLiteral(".STAGE")));
    EXPECT_FALSE(ContentStore::isStagingFilename(upper + QStringLiteral(".json")));
    EXPECT_FALSE(ContentStore::isStagingFilename(QStringLiteral("Transactions/") + upper + QStringLiteral(".stage")));
    EXPECT_FALSE(ContentStore::isStagingFilename(upper + QStringLiteral(".stage.stage")));
    EXPECT_FALSE(ContentStore::isStagingFilename(QStringLiteral("{") + upper + QStringLiteral("}.stage")));
    EXPECT_FALSE(ContentStore::isStagingFilename(QStringLiteral(".stage")));
    EXPECT_FALSE(ContentStore::isStagingFilename(upper));
}

TEST(ContentStoreStaticsTest, SuggestedExportFilenameOfALongNameFitsAFileNameWholeCharactersAndAll)
{
    const struct {
        const char* name;
        QString base;
        QString extension;
        QString expectedBase;
    } cases[] = {
        {"ascii", QString(300, u'a'), QStringLiteral("pdf"), QString(251, u'a')},
        {"two-byte letters", QString(200, QChar(0xE9)), QStringLiteral("txt"), QString(125, QChar(0xE9))},
        {"combining accents stay on their letter", QStringLiteral("e\u0301").repeated(100), QStringLiteral("txt"),
            QStringLiteral("e\u0301").repeated(83)},
        {"twelve-letter extension", QString(300, u'b'), QStringLiteral("abcdefghijkl"), QString(242, u'b')},
        {"short names untouched", QStringLiteral("notes"), QStringLiteral("md"), QStringLiteral("notes")},
    };
    QTemporaryDir folder;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MaterialRecord record;
        record.source.filePath = QStringLiteral("/tmp/") + c.base + QStringLiteral(".original");
        const QString name = ContentStore::suggestedExportFilename(record, c.extension);
        EXPECT_EQ(name, c.expectedBase + u'.' + c.extension);
        // The file system takes it.
        QFile file(folder.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << file.errorString().toStdString();
    }
}

TEST(ContentStoreStaticsTest, SuggestedExportFilenameUsesASafeBaseAndExtension)
{
    MaterialRecord record;
    record.id = *parseUuid(u"0a1b2c3d-4e5f-6a7b-8c9d-0e1f2a3b4c5d");
    record.source.filePath = QStringLiteral("/Users/x/Quarterly: Q3.pdf");
    EXPECT_EQ(ContentStore::suggestedExportFilename(record, QStringLiteral("pdf")), QStringLiteral("Quarterly_ Q3.pdf"));
    // Only the last extension goes; control and format characters and "\" become "_".
    record.source.filePath = QStringLiteral("/tmp/a\tb\\c\u200Bd.tar.gz");
    EXPECT_EQ(ContentStore::suggestedExportFilename(record, QStringLiteral("GZ")), QStringLiteral("a_b_c_d.tar.GZ"));
    // Extension: ASCII letters and digits only, case kept, at most 12; "bin" when nothing is left.
    EXPECT_EQ(ContentStore::suggestedExportFilename(record, QStringLiteral("t.x-t_abcdefghijklmnop")),
        QStringLiteral("a_b_c_d.tar.txtabcdefghi"));
    EXPECT_EQ(ContentStore::suggestedExportFilename(record, QString()), QStringLiteral("a_b_c_d.tar.bin"));
    EXPECT_EQ(ContentStore::suggestedExportFilename(record, QStringLiteral("é")), QStringLiteral("a_b_c_d.tar.bin"));

    const QString fallback = QStringLiteral("Tolvex-0A1B2C3D.png");
    record.source.filePath.reset();
    EXPECT_EQ(ContentStore::suggestedExportFilename(record, QStringLiteral("png")), fallback);
    record.source.filePath = QString();
    EXPECT_EQ(ContentStore::suggestedExportFilename(record, QStringLiteral("png")), fallback);
    record.source.filePath = QStringLiteral("/tmp/..");
    EXPECT_EQ(ContentStore::suggestedExportFilename(record, QStringLiteral("png")), fallback);
    // A hidden file's name is all base.
    record.source.filePath = QStringLiteral("/home/u/.profile");
    EXPECT_EQ(ContentStore::suggestedExportFilename(record, QStringLiteral("txt")), QStringLiteral(".profile.txt"));
}

TEST_F(ContentStoreTest, StagesTextUnderTransactions)
{
    // 200 user-perceived characters, the first of them two code points long.
    const QString text = QStringLiteral("e\u0301") + QString(199, u'x');
    SourceRecord origin;
    origin.origin = ImportOrigin::clipboard;
    origin.webURL = QUrl(QStringLiteral("https://example.com/a"));
    const StagedContent staged = store().stage(ImportRequest::text(text, origin));

    EXPECT_EQ(staged.kind, MaterialKind::text);
    EXPECT_EQ(staged.fileExtension, QStringLiteral("txt"));
    EXPECT_EQ(staged.title, QStringLiteral("e\u0301") + QString(79, u'x'));
    EXPECT_EQ(staged.source, origin);
    const QString stagingPath = staged.stagingURL.toLocalFile();
    EXPECT_EQ(QFileInfo(stagingPath).path(), rootPath + QStringLiteral("/Transactions"));
    EXPECT_TRUE(ContentStore::isStagingFilename(QFileInfo(stagingPath).fileName()));
    EXPECT_EQ(readFile(stagingPath), text.toUtf8());
    EXPECT_EQ(staged.byteCount, text.toUtf8().size());
    EXPECT_EQ(staged.sha256, ContentStore::digest(text.toUtf8()));

    // An empty text writes nothing.
    const QStringList before = stagingFiles();
    EXPECT_EQ(storeError([&] { store().stage(ImportRequest::text(QString(), origin)); }), StoreError::Code::invalidSource);
    EXPECT_EQ(stagingFiles(), before);
}

TEST_F(ContentStoreTest, StagesImageBytesOrRefusesThem)
{
    SourceRecord origin;
    origin.origin = ImportOrigin::clipboard;
    const QByteArray png = pngBytes();
    const StagedContent staged = store().stage(ImportRequest::imageData(png, origin));
    EXPECT_EQ(staged.kind, MaterialKind::image);
    EXPECT_EQ(staged.fileExtension, QStringLiteral("png"));
    EXPECT_EQ(staged.title, QStringLiteral("剪贴板图片"));
    EXPECT_EQ(staged.source, origin);
    EXPECT_EQ(staged.sha256, ContentStore::digest(png));
    EXPECT_EQ(readFile(staged.stagingURL.toLocalFile()), png);

    // Bytes that are no image are refused by admission, before anything is written.
    const QStringList before = stagingFiles();
    EXPECT_EQ(admissionError([&] { store().stage(ImportRequest::imageData("not an image", origin)); }),
        ImageAdmissionError::Code::invalidImage);
    EXPECT_EQ(stagingFiles(), before);
}

TEST_F(ContentStoreTest, StagesFilesWithTheirSourceTitleAndClassification)
{
    const StagedContent text = stageFile(QStringLiteral("notes.TXT"), QByteArray("caf\xC3\xA9 \xF0\x9F\x98\x80\n"));
    EXPECT_EQ(text.kind, MaterialKind::text);
    EXPECT_EQ(text.fileExtension, QStringLiteral("TXT"));
    EXPECT_EQ(text.title, QStringLiteral("notes.TXT"));
    EXPECT_EQ(text.source.origin, ImportOrigin::drop);
    EXPECT_EQ(text.source.filePath, outside + QStringLiteral("/notes.TXT"));
    EXPECT_FALSE(text.source.fileBookmark || text.source.webURL || text.source.manualTitle || text.source.locator);
    EXPECT_FALSE(text.source.isManuallyRegistered);

    // Invalid UTF-8: a stray continuation byte, an overlong "/", an encoded surrogate, a cut sequence.
    for (const QByteArray& invalid : {QByteArray("a\x80"), QByteArray("\xC0\xAF"), QByteArray("\xED\xA0\x80"),
             QByteArray("ok\xE2\x82")}) {
        const StagedContent file = stageFile(QStringLiteral("bad.TXT"), invalid);
        EXPECT_EQ(file.kind, MaterialKind::file) << invalid.toHex().constData();
        EXPECT_EQ(file.fileExtension, QStringLiteral("txt"));
    }

    const StagedContent pdf = stageFile(QStringLiteral("scan.bin"), pdfBytes);
    EXPECT_EQ(pdf.kind, MaterialKind::pdf);
    EXPECT_EQ(pdf.fileExtension, QStringLiteral("pdf"));

    const StagedContent archive = stageFile(QStringLiteral("archive.tar.gz"), "\x1F\x8B\x08\x00");
    EXPECT_EQ(archive.kind, MaterialKind::file);
    EXPECT_EQ(archive.fileExtension, QStringLiteral("gz"));
    EXPECT_EQ(archive.title, QStringLiteral("archive.tar.gz"));

    EXPECT_EQ(stageFile(QStringLiteral("accent.\u00E9"), "data").fileExtension, QStringLiteral("bin"));
    EXPECT_EQ(stageFile(QStringLiteral("README"), "data").fileExtension, QStringLiteral("bin"));
    EXPECT_EQ(stageFile(QStringLiteral("long.Abcdefghijklmnop"), "data").fileExtension, QStringLiteral("abcdefghijkl"));

    // An image is known by its bytes, whatever its name says.
    const StagedContent image = stageFile(QStringLiteral("photo.dat"), pngBytes());
    EXPECT_EQ(image.kind, MaterialKind::image);
    EXPECT_EQ(image.fileExtension, QStringLiteral("png"));
    EXPECT_EQ(image.title, QStringLiteral("photo.dat"));

    // A name that claims an image the bytes are not is refused.
    EXPECT_EQ(admissionError([&] { stageFile(QStringLiteral("fake.png"), "plain text"); }),
        ImageAdmissionError::Code::invalidImage);
    EXPECT_EQ(admissionError([&] { stageFile(QStringLiteral("fake.PNG"), pdfBytes); }),
        ImageAdmissionError::Code::invalidImage);
}

TEST_F(ContentStoreTest, RefusesFileRequestsThatAreNoRegularLocalFile)
{
    const QUrl target = source(QStringLiteral("target.txt"), "text");
    ASSERT_TRUE(QFile::link(target.toLocalFile(), outside + QStringLiteral("/link.txt")));
    const auto stage = [&](const QUrl& url) { store().stage(ImportRequest::file(url, ImportOrigin::fileSelection)); };

    EXPECT_EQ(storeError([&] { stage(QUrl::fromLocalFile(outside + QStringLiteral("/link.txt"))); }),
        StoreError::Code::invalidSource);
    EXPECT_EQ(storeError([&] { stage(QUrl::fromLocalFile(outside)); }), StoreError::Code::invalidSource);
    EXPECT_EQ(storeError([&] { stage(QUrl(QStringLiteral("https://example.com") + target.path())); }),
        StoreError::Code::invalidSource);
    try {
        stage(QUrl::fromLocalFile(outside + QStringLiteral("/missing.txt")));
        ADD_FAILURE() << "a missing file was staged";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), ENOENT);
    }
    EXPECT_TRUE(stagingFiles().isEmpty());
}

TEST_F(ContentStoreTest, SourceChangedWhileStagingFailsAndLeavesTheStagingFile)
{
    const QUrl url = source(QStringLiteral("report.txt"), "original contents");
    const auto stage = [&] { store().stage(ImportRequest::file(url, ImportOrigin::fileSelection)); };

    // Rewritten between the first inspection and the copy, shorter: copied
    // whole, and refused.
    files->beforeCopy = [&](const QUrl&, const QUrl&) { writeFile(url.toLocalFile(), "rewritten"); };
    EXPECT_EQ(storeError(stage), StoreError::Code::sourceChanged);
    ASSERT_EQ(stagingFiles().size(), 1);
    EXPECT_EQ(readFile(rootPath + QStringLiteral("/Transactions/") + stagingFiles().first()), "rewritten");

    // Longer: the copy stops one byte past the size seen and keeps nothing.
    writeFile(url.toLocalFile(), "original contents");
    files->beforeCopy = [&](const QUrl&, const QUrl&) { writeFile(url.toLocalFile(), "rewritten, and longer too"); };
    EXPECT_EQ(storeError(stage), StoreError::Code::sourceChanged);
    EXPECT_EQ(stagingFiles().size(), 1);

    // Rewritten just after the copy, same size and the old modification time
    // put back: only reading the source again sees it.
    writeFile(url.toLocalFile(), "original contents");
    struct stat status {};
    ASSERT_EQ(::stat(QFile::encodeName(url.toLocalFile()).constData(), &status), 0);
    files->beforeCopy = nullptr;
    files->afterCopy = [&](const QUrl&, const QUrl&) {
        writeFile(url.toLocalFile(), "ORIGINAL CONTENTS");
        const struct timespec times[2] = {status.st_atim, status.st_mtim};
        ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(url.toLocalFile()).constData(), times, 0), 0);
    };
    EXPECT_EQ(storeError(stage), StoreError::Code::sourceChanged);
    EXPECT_EQ(stagingFiles().size(), 2);

    // The copy itself altered after it was made.
    writeFile(url.toLocalFile(), "original contents");
    files->afterCopy = [&](const QUrl&, const QUrl& destination) { writeFile(destination.toLocalFile(), "tampered"); };
    EXPECT_EQ(storeError(stage), StoreError::Code::sourceChanged);
    EXPECT_EQ(stagingFiles().size(), 3);
}

TEST_F(ContentStoreTest, ASourceSwappedForAnotherTypeIsACopyOfNothingButTheOpenedFile)
{
    const auto replaceWithLink = [&](const QString& path) {
        writeFile(outside + QStringLiteral("/elsewhere"), "somebody else's bytes");
        QFile::remove(path);
        ASSERT_TRUE(QFile::link(outside + QStringLiteral("/elsewhere"), path));
    };
    const auto replaceWithFolder = [&](const QString& path) {
        QFile::remove(path);
        ASSERT_TRUE(QDir().mkpath(path + QStringLiteral("/inner")));
        writeFile(path + QStringLiteral("/inner/big"), QByteArray(4096, 'x'));
    };
    const auto replaceWithFifo = [&](const QString& path) {
        QFile::remove(path);
        ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    };
    struct Case {
        const char* name;
        std::function<void(const QString&)> replace;
        bool atCopy; // swapped after the file was opened, just before its copy
    };
    const Case cases[] = {
        {"link before opening", replaceWithLink, false},
        {"folder before opening", replaceWithFolder, false},
        {"fifo before opening", replaceWithFifo, false},
        {"link before copying", replaceWithLink, true},
        {"folder before copying", replaceWithFolder, true},
        {"fifo before copying", replaceWithFifo, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(rootPath + QStringLiteral("/Transactions")).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(rootPath + QStringLiteral("/Transactions")));
        QDir(outside).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(outside));
        const QUrl url = source(QStringLiteral("report.txt"), "original contents");
        using Hook = HookedFileOperations::Hook;
        files->beforeOpen = c.atCopy ? Hook{} : Hook([&](const QUrl& opened, const QUrl&) {
            if (opened == url)
                c.replace(url.toLocalFile());
        });
        files->beforeCopy = c.atCopy ? Hook([&](const QUrl&, const QUrl&) { c.replace(url.toLocalFile()); }) : Hook{};

        EXPECT_EQ(storeError([&] { store().stage(ImportRequest::file(url, ImportOrigin::drop)); }),
            StoreError::Code::sourceChanged);
        if (!c.atCopy) {
            EXPECT_TRUE(transactionEntries().isEmpty()) << transactionEntries().join(u' ').toStdString();
            continue;
        }
        // Once opened, the file itself is copied, never what took its name.
        ASSERT_EQ(transactionEntries().size(), 1);
        const QString staged = rootPath + QStringLiteral("/Transactions/") + transactionEntries().first();
        EXPECT_FALSE(QFileInfo(staged).isSymLink());
        EXPECT_EQ(readFile(staged), "original contents");
    }
    files->beforeOpen = nullptr;
    files->beforeCopy = nullptr;
    EXPECT_EQ(stageFile(QStringLiteral("after.txt"), "still works").kind, MaterialKind::text);
}

TEST_F(ContentStoreTest, StagingFileThatIsALinkAfterWritingIsRefused)
{
    files->afterWrite = [&](const QUrl& url, const QUrl&) {
        const QString path = url.toLocalFile();
        ASSERT_TRUE(QFile::rename(path, outside + QStringLiteral("/moved")));
        ASSERT_TRUE(QFile::link(outside + QStringLiteral("/moved"), path));
    };
    EXPECT_EQ(storeError([&] { store().stage(ImportRequest::text(QStringLiteral("hello"), SourceRecord{})); }),
        StoreError::Code::invalidPath);
}

TEST_F(ContentStoreTest, CancelledStagingWritesNothing)
{
    const CancellationToken token = CancellationToken::make();
    token.cancel();
    EXPECT_THROW(store().stage(ImportRequest::text(QStringLiteral("hello"), SourceRecord{}), token), CancellationError);
    EXPECT_TRUE(stagingFiles().isEmpty());
}

TEST_F(ContentStoreTest, CommitMovesTheStagedFileIntoMaterials)
{
    const QByteArray bytes = pngBytes();
    const StagedContent staged = stageFile(QStringLiteral("shot.png"), bytes);
    const QUuid materialID = QUuid::createUuid();
    const QUuid versionID = QUuid::createUuid();
    const Date before = Date::now();
    const MaterialVersion version = store().commit(staged, materialID, versionID);

    const QString relative =
        QStringLiteral("Materials/") + uuidText(materialID) + u'/' + uuidText(versionID) + QStringLiteral(".png");
    EXPECT_EQ(version.id, versionID);
    EXPECT_EQ(version.relativePath, relative);
    EXPECT_EQ(version.sha256, ContentStore::digest(bytes));
    EXPECT_EQ(version.byteCount, bytes.size());
    EXPECT_EQ(version.kind, VersionKind::original);
    EXPECT_GE(version.createdAt, before);
    EXPECT_EQ(readFile(rootPath + u'/' + relative), bytes);
    EXPECT_FALSE(QFile::exists(staged.stagingURL.toLocalFile()));
    EXPECT_TRUE(stagingFiles().isEmpty());
}

TEST_F(ContentStoreTest, CommitRefusesStagingFilesItCannotTrust)
{
    const auto commitError = [&](const StagedContent& staged) {
        return storeError([&] { store().commit(staged, QUuid::createUuid(), QUuid::createUuid()); });
    };
    const auto materialCount = [&] { return QDir(rootPath + QStringLiteral("/Materials")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size(); };
    const StagedContent staged = store().stage(ImportRequest::text(QStringLiteral("payload"), SourceRecord{}));

    // Outside "Transactions": beside it in the root, and outside the root.
    for (const QString& path : {rootPath + QStringLiteral("/Drafts/X.stage"), outside + QStringLiteral("/X.stage"),
             rootPath + QStringLiteral("/TransactionsX/X.stage")}) {
        QDir().mkpath(QFileInfo(path).path());
        ASSERT_TRUE(QFile::copy(staged.stagingURL.toLocalFile(), path));
        StagedContent moved = staged;
        moved.stagingURL = QUrl::fromLocalFile(path);
        EXPECT_EQ(commitError(moved), StoreError::Code::invalidPath) << qPrintable(path);
        EXPECT_TRUE(QFile::exists(path));
    }

    // A staging file that is a link to a file with the very same bytes.
    StagedContent linked = staged;
    linked.stagingURL = QUrl::fromLocalFile(rootPath + QStringLiteral("/Transactions/L.stage"));
    ASSERT_TRUE(QFile::link(outside + QStringLiteral("/X.stage"), linked.stagingURL.toLocalFile()));
    EXPECT_EQ(commitError(linked), StoreError::Code::invalidPath);

    // Its bytes changed since staging.
    writeFile(staged.stagingURL.toLocalFile(), "PAYLOAD");
    EXPECT_EQ(commitError(staged), StoreError::Code::invalidPath);
    EXPECT_TRUE(QFile::exists(staged.stagingURL.toLocalFile()));
    EXPECT_EQ(materialCount(), 0);
}

TEST_F(ContentStoreTest, LinkPlantedAtTransactionsStopsStagingAndCommitting)
{
    const StagedContent staged = store().stage(ImportRequest::text(QStringLiteral("payload"), SourceRecord{}));
    ASSERT_TRUE(QDir(rootPath).rename(QStringLiteral("Transactions"), QStringLiteral("Elsewhere")));
    ASSERT_TRUE(QFile::link(rootPath + QStringLiteral("/Elsewhere"), rootPath + QStringLiteral("/Transactions")));

    EXPECT_EQ(storeError([&] { store().stage(ImportRequest::text(QStringLiteral("more"), SourceRecord{})); }),
        StoreError::Code::invalidPath);
    EXPECT_EQ(storeError([&] { store().commit(staged, QUuid::createUuid(), QUuid::createUuid()); }),
        StoreError::Code::invalidPath);
    EXPECT_EQ(QDir(rootPath + QStringLiteral("/Elsewhere")).entryList(QDir::Files).size(), 1);

    // A linked material folder stops the commit before anything moves.
    ASSERT_TRUE(QFile::remove(rootPath + QStringLiteral("/Transactions")));
    ASSERT_TRUE(QDir(rootPath).rename(QStringLiteral("Elsewhere"), QStringLiteral("Transactions")));
    const QUuid materialID = QUuid::createUuid();
    ASSERT_TRUE(QFile::link(outside, rootPath + QStringLiteral("/Materials/") + uuidText(materialID)));
    EXPECT_EQ(storeError([&] { store().commit(staged, materialID, QUuid::createUuid()); }), StoreError::Code::invalidPath);
    EXPECT_TRUE(QFile::exists(staged.stagingURL.toLocalFile()));
}

TEST_F(ContentStoreTest, DataRootBelowALinkedFolderStagesAndCommits)
{
    ASSERT_TRUE(QFile::link(base, base + QStringLiteral("/via")));
    const ContentStore linked(QUrl::fromLocalFile(base + QStringLiteral("/via/Tolvex")), files);
    const StagedContent staged = linked.stage(ImportRequest::text(QStringLiteral("payload"), SourceRecord{}));
    EXPECT_TRUE(staged.stagingURL.toLocalFile().startsWith(base + QStringLiteral("/via/Tolvex/Transactions/")));
    const MaterialVersion version = linked.commit(staged, QUuid::createUuid(), QUuid::createUuid());
    EXPECT_EQ(readFile(rootPath + u'/' + version.relativePath), "payload");

    // A data root that is itself a link stages nothing.
    ASSERT_TRUE(QFile::link(rootPath, base + QStringLiteral("/alias")));
    const ContentStore alias(QUrl::fromLocalFile(base + QStringLiteral("/alias")), files);
    EXPECT_EQ(storeError([&] { alias.stage(ImportRequest::text(QStringLiteral("x"), SourceRecord{})); }),
        StoreError::Code::invalidPath);
}
