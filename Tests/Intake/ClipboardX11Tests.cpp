// Clipboard intake against a real X server (the test desktop): other
// programs write the CLIPBOARD selection with xclip or a helper, and the
// service polls it into a real store.
#include "Store/StoreTesting.h"
#include "Support/EventLoopWait.h"
#include "Support/ImageFixtures.h"
#include "Velmarin/Intake/ClipboardImportService.h"
#include "Velmarin/Intake/SystemClipboardGateway.h"
#include "Velmarin/Platform/SystemPasteboard.h"
#include "Velmarin/Platform/X11SelectionReader.h"

#include <QClipboard>
#include <QCoro/QCoroTask>
#include <QGuiApplication>
#include <QMimeData>
#include <QProcess>

#include <csignal>
#include <thread>

namespace tolvex::testing {
namespace {

class ClipboardX11Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
        DataRootBuilder builder(folder.path() + QStringLiteral("/Tolvex"));
        builder.writeState();
        store = std::make_unique<MaterialStore>(builder.rootURL(), SystemFileOperations::shared(), roomyBudget());
        waitForResult(store->setClipboardPreferences(ClipboardPreference(true, true, true, true, false)));
        pasteboard = std::make_shared<SystemPasteboard>();
        service = std::make_unique<ClipboardImportService>(std::make_shared<SystemClipboardGateway>(pasteboard),
            *store, [] { return unlimitedCapacity; }, [] { return true; });
        service->onSnapshot = [this](const WorkspaceSnapshot& snapshot) -> QCoro::Task<void> {
            latest = snapshot;
            co_return;
        };
    }

    void TearDown() override
    {
        for (QProcess* owner : owners) {
            owner->kill();
            owner->waitForFinished();
            delete owner;
        }
    }

    // Runs a program that takes the clipboard (in the foreground, so that ending
    // the process ends the owner) and waits until we see the change.
    void writeClipboard(const QString& program, const QStringList& arguments, const QByteArray& input = {})
    {
        const std::int64_t before = pasteboard->changeCount();
        auto* process = new QProcess;
        owners.append(process);
        process->start(program, arguments);
        ASSERT_TRUE(process->waitForStarted()) << program.toStdString();
        if (!input.isNull()) {
            process->write(input);
            process->closeWriteChannel();
        }
        // The change may be an earlier owner leaving: wait for the new one's content.
        ASSERT_TRUE(waitUntil([&] { return pasteboard->changeCount() > before && !clipboardIsEmpty(); }))
            << program.toStdString() << " never took the clipboard";
    }
    void xclip(const QString& type, const QByteArray& input)
    {
        writeClipboard(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard"),
            QStringLiteral("-t"), type, QStringLiteral("-quiet")}, input);
    }

    static bool clipboardIsEmpty() { return QGuiApplication::clipboard()->mimeData()->formats().isEmpty(); }
    void start() { QCoro::waitFor(service->start()); }
    void poll() { QCoro::waitFor(service->poll()); }
    QList<MaterialRecord> hanging() const
    {
        QList<MaterialRecord> result;
        for (const MaterialRecord& material : latest.materials) {
            if (material.status == MaterialStatus::hanging)
                result.append(material);
        }
        return result;
    }

    QTemporaryDir folder;
    std::unique_ptr<MaterialStore> store;
    std::shared_ptr<SystemPasteboard> pasteboard;
    std::unique_ptr<ClipboardImportService> service;
    WorkspaceSnapshot latest;
    QList<QProcess*> owners;
};

TEST_F(ClipboardX11Test, EachKindBecomesItsMaterials)
{
    const QString first = test::writeFixture(folder, QStringLiteral("first.txt"), "one");
    const QString second = test::writeFixture(folder, QStringLiteral("second.txt"), "two");
    const QByteArray uriList = (QUrl::fromLocalFile(first).toString() + QStringLiteral("\r\n")
        + QUrl::fromLocalFile(second).toString() + QStringLiteral("\r\n")).toUtf8();
    const QByteArray png = test::encodeImage(test::patternImage(64, 48), "png");
    // Large enough that the owner sends it in parts (INCR).
    QByteArray largePng = test::craftedPng(1, 1);
    largePng.insert(largePng.size() - 12, test::pngChunk("prVt", QByteArray(6 << 20, 'p')));

    struct Case {
        const char* type;
        QByteArray input;
        QList<MaterialKind> kinds;
    };
    const Case cases[] = {
        {"UTF8_STRING", "Copied in another program", {MaterialKind::text}},
        {"image/png", png, {MaterialKind::image}},
        {"image/png", largePng, {MaterialKind::image}},
        {"text/uri-list", uriList, {MaterialKind::text, MaterialKind::text}},
    };
    start();
    qsizetype total = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        xclip(QString::fromLatin1(c.type), c.input);
        poll();
        const QList<MaterialRecord> materials = hanging();
        ASSERT_EQ(materials.size(), total + c.kinds.size());
        for (qsizetype i = 0; i < c.kinds.size(); ++i) {
            const MaterialRecord& material = materials[total + i];
            EXPECT_EQ(material.kind, c.kinds[i]);
            EXPECT_EQ(material.source.origin, ImportOrigin::clipboard);
        }
        if (c.kinds.size() == 1) {
            EXPECT_EQ(materials.last().versions.first().byteCount, c.input.size());
        }
        total = materials.size();
    }
    EXPECT_EQ(service->state(), ClipboardIntakeState::active);
}

TEST_F(ClipboardX11Test, NeitherEarlierContentNorOurOwnCopiesAreTaken)
{
    xclip(QStringLiteral("UTF8_STRING"), "there before intake started");
    start();
    poll();
    EXPECT_TRUE(hanging().isEmpty());

    writeClipboard(QStringLiteral(TOLVEX_RUNTIME_DIR "/tolvex-clipboard-owner"),
        {QStringLiteral("--marked"), QStringLiteral("copied from a card")});
    poll();
    EXPECT_TRUE(hanging().isEmpty());
    EXPECT_EQ(service->state(), ClipboardIntakeState::active);

    // A copy made by this very process is read through Qt, not over X.
    auto* ours = new QMimeData;
    ours->setText(QStringLiteral("copied from a card here"));
    ours->setData(QString::fromUtf16(PasteboardType::ownCopy), "1");
    const std::int64_t before = pasteboard->changeCount();
    QGuiApplication::clipboard()->setMimeData(ours);
    ASSERT_TRUE(waitUntil([&] { return pasteboard->changeCount() > before; }));
    poll();
    EXPECT_TRUE(hanging().isEmpty());
    EXPECT_EQ(service->state(), ClipboardIntakeState::active);

    // The same helper without the marker is any other program.
    writeClipboard(QStringLiteral(TOLVEX_RUNTIME_DIR "/tolvex-clipboard-owner"), {QStringLiteral("plain copy")});
    poll();
    ASSERT_EQ(hanging().size(), 1);
    EXPECT_EQ(hanging().first().kind, MaterialKind::text);
}

// An owner that stops answering, or leaves while we wait, costs the GUI
// thread a bounded wait and a clear error, and intake goes on afterwards.
TEST_F(ClipboardX11Test, AnOwnerThatHangsOrLeavesEndsTheReadWithAnError)
{
    start();
    for (const bool leaves : {false, true}) {
        SCOPED_TRACE(leaves);
        xclip(QStringLiteral("UTF8_STRING"), "held by a stopped program");
        const qint64 owner = owners.last()->processId();
        ::kill(static_cast<pid_t>(owner), SIGSTOP);
        // Connected first: on a loaded machine the connection alone could
        // outlast the owner's 200 ms, and the read would find no owner.
        const auto reader = X11SelectionReader::connect();
        ASSERT_TRUE(reader);
        std::thread killer;
        if (leaves) {
            killer = std::thread([owner] {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                ::kill(static_cast<pid_t>(owner), SIGKILL);
            });
        }
        EXPECT_TRUE(throwsStoreError([&] { reader->formats(); },
            leaves ? StoreError::Code::sourceChanged : StoreError::Code::invalidSource));
        if (killer.joinable())
            killer.join();
        ::kill(static_cast<pid_t>(owner), SIGKILL);
        owners.last()->waitForFinished();
        // Intake sees the owner leave before anything else happens.
        ASSERT_TRUE(waitUntil(clipboardIsEmpty));
        poll();
    }
    xclip(QStringLiteral("UTF8_STRING"), "answered at once");
    poll();
    EXPECT_EQ(hanging().size(), 1);
}

} // namespace
} // namespace tolvex::testing
