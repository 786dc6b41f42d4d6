#include "QtPrinting.h"
#include "StartupFixtures.h"

#include "TolvexCore/Content/ContentStore.h"
#include "TolvexCore/Images/ImageAdmission.h"
#include "TolvexCore/Model/ClipboardPreference.h"
#include "TolvexCore/Model/JsonCoding.h"
#include "TolvexCore/Model/UuidText.h"
#include "TolvexCore/Startup/PathResolution.h"
#include "TolvexCore/Startup/StarterWorkspaceBootstrap.h"
#include "TolvexCore/Model/StoreError.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <sys/stat.h>
#include <system_error>
#include <thread>

using namespace tolvex;
using namespace tolvex::testing;

namespace {

// A private copy of the built starter.
class StarterCopy {
public:
    StarterCopy()
    {
        if (!dir_.isValid())
            return;
        root_ = *PathResolution::resolvingSymlinks(dir_.path());
        copyTree(builtStarterPath(), path());
    }
    QString path() const { return root_ + QStringLiteral("/StarterWorkspace"); }
    QUrl url() const { return QUrl::fromLocalFile(path()); }
    QString beside(const QString& name) const { return root_ + u'/' + name; }
    QString payload(int index) const { return path() + u'/' + readSnapshot(path()).materials[index].versions[0].relativePath; }
    int indexOf(MaterialKind kind) const
    {
        const WorkspaceSnapshot snapshot = readSnapshot(path());
        for (int index = 0; index < snapshot.materials.size(); ++index) {
            if (snapshot.materials[index].kind == kind)
                return index;
        }
        return -1;
    }

private:
    QTemporaryDir dir_;
    QString root_;
};

// Replaces a material's payload and records its new size and digest.
void replacePayload(const QString& workspace, int materialIndex, const QByteArray& bytes)
{
    WorkspaceSnapshot snapshot = readSnapshot(workspace);
    MaterialVersion& version = snapshot.materials[materialIndex].versions[0];
    writeFile(workspace + u'/' + version.relativePath, bytes);
    version.byteCount = bytes.size();
    version.sha256 = ContentStore::digest(bytes);
    writeSnapshot(workspace, snapshot);
}

// The StoreError that validate() throws, or nothing.
std::optional<StoreError::Code> validateError(const QUrl& starter)
{
    try {
        StarterWorkspaceBootstrap::validate(starter);
    } catch (const StoreError& error) {
        return error.code();
    }
    return std::nullopt;
}

std::optional<StoreError::Code> editedSnapshotError(const std::function<void(WorkspaceSnapshot&)>& edit)
{
    const StarterCopy starter;
    WorkspaceSnapshot snapshot = readSnapshot(starter.path());
    edit(snapshot);
    writeSnapshot(starter.path(), snapshot);
    return validateError(starter.url());
}

QByteArray pdfWithoutPages()
{
    const QList<QByteArray> objects{
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [] /Count 0 >>",
    };
    QByteArray pdf = "%PDF-1.4\n";
    QList<qsizetype> offsets;
    for (qsizetype index = 0; index < objects.size(); ++index) {
        offsets.append(pdf.size());
        pdf += QByteArray::number(index + 1) + " 0 obj\n" + objects[index] + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 3\n0000000000 65535 f \n";
    for (const qsizetype offset : offsets)
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size 3 /Root 1 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

} // namespace

TEST(StarterWorkspaceTest, BuiltStarterIsAValidWelcomeWorkspace)
{
    const WorkspaceSnapshot snapshot = StarterWorkspaceBootstrap::validate(QUrl::fromLocalFile(builtStarterPath()));
    EXPECT_EQ(snapshot.generation, 0u);
    ASSERT_EQ(snapshot.materials.size(), 3);
    for (const MaterialRecord& material : snapshot.materials)
        EXPECT_FALSE(material.title.isEmpty());
    const StarterCopy starter;
    const QByteArray note = readFile(starter.payload(starter.indexOf(MaterialKind::text)));
    EXPECT_TRUE(note.startsWith("Welcome to Tolvex"));
    EXPECT_GT(note.count('\n'), 3);

    const ClipboardPreference clipboard
        = Json::decode<ClipboardPreference>(readFile(builtStarterPath() + QStringLiteral("/clipboard-settings.json")));
    EXPECT_EQ(clipboard.version, 2);
    EXPECT_FALSE(clipboard.enabled);
    EXPECT_FALSE(clipboard.includeExisting);

    // Finder litter and empty folders are tolerated anywhere.
    writeFile(starter.path() + QStringLiteral("/.DS_Store"), "x");
    writeFile(starter.path() + QStringLiteral("/Materials/.DS_Store"), "x");
    ASSERT_TRUE(QDir().mkpath(starter.path() + QStringLiteral("/Empty/Deeper")));
    EXPECT_EQ(validateError(starter.url()), std::nullopt);
}

TEST(StarterWorkspaceTest, RefusesExtraMissingOrLinkedFiles)
{
    {
        const StarterCopy starter;
        writeFile(starter.path() + QStringLiteral("/notes.txt"), "extra");
        EXPECT_EQ(validateError(starter.url()), StoreError::Code::invalidSnapshot);
    }
    {
        const StarterCopy starter;
        writeFile(QFileInfo(starter.payload(0)).absolutePath() + QStringLiteral("/extra.bin"), "extra");
        EXPECT_EQ(validateError(starter.url()), StoreError::Code::invalidSnapshot);
    }
    {
        // A hidden extra file counts like any other.
        const StarterCopy starter;
        writeFile(starter.path() + QStringLiteral("/Materials/.hidden"), "extra");
        EXPECT_EQ(validateError(starter.url()), StoreError::Code::invalidSnapshot);
    }
    {
        const StarterCopy starter;
        ASSERT_TRUE(QFile::remove(starter.payload(1)));
        EXPECT_EQ(validateError(starter.url()), StoreError::Code::invalidSnapshot);
    }
    {
        // A linked payload, even to an identical file inside the starter.
        const StarterCopy starter;
        const QString payload = starter.payload(2);
        ASSERT_TRUE(QFile::rename(payload, starter.path() + QStringLiteral("/copy")));
        makeSymlink(QStringLiteral("../../copy"), payload);
        EXPECT_EQ(validateError(starter.url()), StoreError::Code::invalidPath);
    }
    {
        // A linked folder on the way to a payload.
        const StarterCopy starter;
        const QString folder = QFileInfo(starter.payload(0)).absolutePath();
        ASSERT_TRUE(QDir().rename(folder, starter.beside(QStringLiteral("moved"))));
        makeSymlink(starter.beside(QStringLiteral("moved")), folder);
        EXPECT_EQ(validateError(starter.url()), StoreError::Code::invalidPath);
    }
    {
        // A stray link that no record names is found by the listing.
        const StarterCopy starter;
        makeSymlink(QStringLiteral("state.json"), starter.path() + QStringLiteral("/alias.json"));
        EXPECT_EQ(validateError(starter.url()), StoreError::Code::invalidPath);
    }
    {
        // A named pipe in place of a payload is refused without being opened.
        const StarterCopy starter;
        ASSERT_TRUE(QFile::remove(starter.payload(0)));
        ASSERT_EQ(::mkfifo(QFile::encodeName(starter.payload(0)).constData(), 0600), 0);
        EXPECT_EQ(validateError(starter.url()), StoreError::Code::invalidPath);
    }
    {
        // The starter folder itself a link.
        const StarterCopy starter;
        makeSymlink(starter.path(), starter.beside(QStringLiteral("Linked")));
        EXPECT_EQ(validateError(QUrl::fromLocalFile(starter.beside(QStringLiteral("Linked")))),
            StoreError::Code::invalidPath);
    }
    {
        // The workspace files are required.
        const StarterCopy starter;
        ASSERT_TRUE(QFile::remove(starter.path() + QStringLiteral("/clipboard-settings.json")));
        EXPECT_THROW(StarterWorkspaceBootstrap::validate(starter.url()), std::system_error);
    }
}

TEST(StarterWorkspaceTest, PayloadsMustMatchTheirRecordsAndKinds)
{
    {
        // Same size, other bytes.
        const StarterCopy starter;
        QByteArray bytes = readFile(starter.payload(0));
        bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x20);
        writeFile(starter.payload(0), bytes);
        EXPECT_EQ(validateError(starter.url()), StoreError::Code::recoveryRequired);
    }
    {
        const StarterCopy starter;
        writeFile(starter.payload(1), readFile(starter.payload(1)) + "tail");
        EXPECT_EQ(validateError(starter.url()), StoreError::Code::recoveryRequired);
    }
    {
        // An empty note, recorded as such.
        const StarterCopy starter;
        replacePayload(starter.path(), starter.indexOf(MaterialKind::text), QByteArray());
        EXPECT_EQ(validateError(starter.url()), StoreError::Code::invalidSnapshot);
    }
    {
        const StarterCopy starter;
        replacePayload(starter.path(), starter.indexOf(MaterialKind::text), "caf\xe9");
        EXPECT_EQ(validateError(starter.url()), StoreError::Code::invalidSnapshot);
    }
    {
        const StarterCopy starter;
        replacePayload(starter.path(), starter.indexOf(MaterialKind::pdf), pdfWithoutPages());
        EXPECT_EQ(validateError(starter.url()), StoreError::Code::invalidSource);
    }
    {
        const StarterCopy starter;
        replacePayload(starter.path(), starter.indexOf(MaterialKind::pdf), "%PDF-1.4\nbroken");
        EXPECT_EQ(validateError(starter.url()), StoreError::Code::invalidSource);
    }
    {
        const StarterCopy starter;
        replacePayload(starter.path(), starter.indexOf(MaterialKind::image), "not an image at all");
        EXPECT_THROW(StarterWorkspaceBootstrap::validate(starter.url()), ImageAdmissionError);
    }
}

TEST(StarterWorkspaceTest, SnapshotAndSettingsRulesAreEnforced)
{
    EXPECT_EQ(editedSnapshotError([](WorkspaceSnapshot&) {}), std::nullopt);
    EXPECT_EQ(editedSnapshotError([](WorkspaceSnapshot& s) { s.generation = 1; }), StoreError::Code::invalidSnapshot);
    EXPECT_EQ(editedSnapshotError([](WorkspaceSnapshot& s) { s.privacyHidden = true; }), StoreError::Code::invalidSnapshot);
    EXPECT_EQ(editedSnapshotError([](WorkspaceSnapshot& s) {
        for (MaterialRecord& material : s.materials)
            material.order += 1;
    }),
        StoreError::Code::invalidSnapshot);
    // Two texts and no PDF.
    EXPECT_EQ(editedSnapshotError([](WorkspaceSnapshot& s) {
        for (MaterialRecord& material : s.materials) {
            if (material.kind == MaterialKind::pdf)
                material.kind = MaterialKind::text;
        }
    }),
        StoreError::Code::invalidSnapshot);
    EXPECT_EQ(editedSnapshotError([](WorkspaceSnapshot& s) { s.materials[1].id = s.materials[0].id; }),
        StoreError::Code::invalidSnapshot);
    EXPECT_EQ(editedSnapshotError([](WorkspaceSnapshot& s) { s.materials.removeLast(); }),
        StoreError::Code::invalidSnapshot);
    EXPECT_EQ(editedSnapshotError([](WorkspaceSnapshot& s) { s.materials[0].pinned = true; }),
        StoreError::Code::invalidSnapshot);
    EXPECT_EQ(editedSnapshotError([](WorkspaceSnapshot& s) { s.materials[0].status = MaterialStatus::takenDown; }),
        StoreError::Code::invalidSnapshot);
    EXPECT_EQ(editedSnapshotError([](WorkspaceSnapshot& s) { s.materials[2].source.filePath = QStringLiteral("/etc/x"); }),
        StoreError::Code::invalidSnapshot);
    EXPECT_EQ(editedSnapshotError([](WorkspaceSnapshot& s) {
        s.matters.append(MatterGroup{QUuid::createUuid(), QStringLiteral("More"), 1});
    }),
        StoreError::Code::invalidSnapshot);
    EXPECT_EQ(editedSnapshotError([](WorkspaceSnapshot& s) {
        for (MaterialRecord& material : s.materials) {
            if (material.kind == MaterialKind::text)
                material.source.origin = ImportOrigin::clipboard;
        }
    }),
        StoreError::Code::invalidSnapshot);
    EXPECT_EQ(editedSnapshotError([](WorkspaceSnapshot& s) { s.materials[0].versions[0].kind = VersionKind::markup; }),
        StoreError::Code::invalidSnapshot);
    EXPECT_EQ(editedSnapshotError([](WorkspaceSnapshot& s) { s.materials[0].activeVersionID = QUuid::createUuid(); }),
        StoreError::Code::invalidSnapshot);
    // A payload path outside the material's own folder.
    EXPECT_EQ(editedSnapshotError([](WorkspaceSnapshot& s) {
        MaterialVersion& version = s.materials[0].versions[0];
        version.relativePath = QStringLiteral("Materials/") + uuidText(s.materials[1].id) + u'/'
            + version.relativePath.section(u'/', -1);
    }),
        StoreError::Code::invalidSnapshot);
    EXPECT_EQ(editedSnapshotError([](WorkspaceSnapshot& s) {
        MaterialVersion& version = s.materials[0].versions[0];
        version.relativePath = QStringLiteral("Materials/") + uuidText(s.materials[0].id) + QStringLiteral("/../x");
    }),
        StoreError::Code::invalidSnapshot);

    const auto settingsError = [](const QByteArray& bytes) {
        const StarterCopy starter;
        writeFile(starter.path() + QStringLiteral("/clipboard-settings.json"), bytes);
        return validateError(starter.url());
    };
    const QByteArray valid
        = R"({"version":2,"enabled":false,"images":true,"text":false,"files":true,"includeExisting":false})";
    EXPECT_EQ(settingsError(valid), std::nullopt);
    // Padding keeps the JSON valid: only its length is wrong.
    EXPECT_EQ(settingsError(valid + QByteArray(4096 - valid.size(), ' ')), std::nullopt);
    EXPECT_EQ(settingsError(valid + QByteArray(4097 - valid.size(), ' ')), StoreError::Code::invalidSnapshot);
    EXPECT_EQ(settingsError(R"({"version":2,"enabled":true,"images":true,"text":true,"files":true,"includeExisting":false})"),
        StoreError::Code::invalidSnapshot);
    EXPECT_EQ(settingsError(R"({"version":2,"enabled":false,"images":true,"text":true,"files":true,"includeExisting":true})"),
        StoreError::Code::invalidSnapshot);
    // Version 1 reads as version 2 with every other switch on.
    EXPECT_EQ(settingsError(R"({"version":1,"enabled":false})"), StoreError::Code::invalidSnapshot);
}

TEST(StarterInstallationTest, InstallsIntoAMissingDataRootOnly)
{
    const StarterCopy starter;
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const QString base = *PathResolution::resolvingSymlinks(temp.path());

    // Missing, with missing folders above it: installed, and the staging
    // folder is gone into it.
    const QString root = base + QStringLiteral("/deep/er/Tolvex");
    EXPECT_TRUE(StarterWorkspaceBootstrap::installIfAbsent(starter.url(), QUrl::fromLocalFile(root)));
    EXPECT_EQ(treeContents(root), treeContents(starter.path()));
    EXPECT_EQ(StarterWorkspaceBootstrap::validate(QUrl::fromLocalFile(root)), readSnapshot(starter.path()));
    EXPECT_EQ(QDir(base + QStringLiteral("/deep/er")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList{QStringLiteral("Tolvex")});
    EXPECT_EQ(QFileInfo(root).permissions() & (QFile::ReadOther | QFile::ReadGroup), QFile::Permissions());

    // Present: never touched, whatever it is.
    writeFile(root + QStringLiteral("/state.json"), "damaged");
    EXPECT_FALSE(StarterWorkspaceBootstrap::installIfAbsent(starter.url(), QUrl::fromLocalFile(root)));
    EXPECT_EQ(readFile(root + QStringLiteral("/state.json")), QByteArray("damaged"));

    const QString empty = base + QStringLiteral("/empty");
    ASSERT_TRUE(QDir().mkdir(empty));
    EXPECT_FALSE(StarterWorkspaceBootstrap::installIfAbsent(starter.url(), QUrl::fromLocalFile(empty)));
    EXPECT_TRUE(QDir(empty).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));

    const QString plainFile = base + QStringLiteral("/plain");
    writeFile(plainFile, "file");
    EXPECT_FALSE(StarterWorkspaceBootstrap::installIfAbsent(starter.url(), QUrl::fromLocalFile(plainFile)));
    EXPECT_EQ(readFile(plainFile), QByteArray("file"));
}

TEST(StarterInstallationTest, RefusesLinkedDataRootsAndBadStartersBeforeWriting)
{
    const StarterCopy starter;
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const QString base = *PathResolution::resolvingSymlinks(temp.path());
    const auto installError = [&](const QString& root) -> std::optional<StoreError::Code> {
        try {
            StarterWorkspaceBootstrap::installIfAbsent(starter.url(), QUrl::fromLocalFile(root));
        } catch (const StoreError& error) {
            return error.code();
        }
        return std::nullopt;
    };

    ASSERT_TRUE(QDir().mkdir(base + QStringLiteral("/target")));
    makeSymlink(base + QStringLiteral("/target"), base + QStringLiteral("/linked"));
    makeSymlink(base + QStringLiteral("/nowhere"), base + QStringLiteral("/dangling"));
    EXPECT_EQ(installError(base + QStringLiteral("/linked")), StoreError::Code::invalidPath);
    EXPECT_EQ(installError(base + QStringLiteral("/dangling")), StoreError::Code::invalidPath);
    EXPECT_FALSE(QFileInfo::exists(base + QStringLiteral("/nowhere")));
    EXPECT_TRUE(QDir(base + QStringLiteral("/target")).isEmpty());

    // A link above the data root is fine: the root itself is what counts.
    makeSymlink(base + QStringLiteral("/target"), base + QStringLiteral("/parent-link"));
    EXPECT_EQ(installError(base + QStringLiteral("/parent-link/Tolvex")), std::nullopt);
    EXPECT_TRUE(QFileInfo(base + QStringLiteral("/target/Tolvex/state.json")).isFile());

    // A starter that fails its check writes nothing at all.
    writeFile(starter.path() + QStringLiteral("/extra"), "x");
    EXPECT_EQ(installError(base + QStringLiteral("/new/Tolvex")), StoreError::Code::invalidSnapshot);
    EXPECT_FALSE(QFileInfo::exists(base + QStringLiteral("/new")));
}

TEST(StarterInstallationTest, ExactlyOneOfConcurrentInstallationsPublishes)
{
    const StarterCopy starter;
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const QString base = *PathResolution::resolvingSymlinks(temp.path());

    // Publishing onto a data root that appeared meanwhile answers false and
    // leaves both folders as they were.
    const QString staging = base + QStringLiteral("/.tolvex-starter-manual");
    copyTree(starter.path(), staging);
    const QString other = base + QStringLiteral("/Other");
    writeFile(other + QStringLiteral("/mine.txt"), "someone else's");
    EXPECT_FALSE(StarterWorkspaceBootstrap::publish(QUrl::fromLocalFile(staging), QUrl::fromLocalFile(other)));
    EXPECT_EQ(treeContents(other).size(), 1);
    EXPECT_EQ(treeContents(staging), treeContents(starter.path()));
    const QString emptyOther = base + QStringLiteral("/EmptyOther");
    ASSERT_TRUE(QDir().mkdir(emptyOther));
    EXPECT_FALSE(StarterWorkspaceBootstrap::publish(QUrl::fromLocalFile(staging), QUrl::fromLocalFile(emptyOther)));
    EXPECT_THROW(StarterWorkspaceBootstrap::publish(
                     QUrl::fromLocalFile(base + QStringLiteral("/absent")), QUrl::fromLocalFile(base + QStringLiteral("/x"))),
        std::system_error);

    // Real races: several installers released at once onto the same root.
    constexpr int rounds = 6;
    constexpr int installers = 3;
    for (int round = 0; round < rounds; ++round) {
        const QString root = base + QStringLiteral("/race-") + QString::number(round) + QStringLiteral("/Tolvex");
        std::barrier start(installers);
        std::atomic<int> published{0};
        std::atomic<int> failures{0};
        std::vector<std::thread> threads;
        for (int index = 0; index < installers; ++index) {
            threads.emplace_back([&] {
                start.arrive_and_wait();
                try {
                    if (StarterWorkspaceBootstrap::installIfAbsent(starter.url(), QUrl::fromLocalFile(root)))
                        ++published;
                } catch (...) {
                    ++failures;
                }
            });
        }
        for (std::thread& thread : threads)
            thread.join();
        EXPECT_EQ(published.load(), 1) << "round " << round;
        EXPECT_EQ(failures.load(), 0) << "round " << round;
        EXPECT_EQ(treeContents(root), treeContents(starter.path()));
        // The losers' staging folders are gone; none became the root.
        EXPECT_EQ(QDir(QFileInfo(root).absolutePath()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList{QStringLiteral("Tolvex")})
            << "round " << round;
    }
}
