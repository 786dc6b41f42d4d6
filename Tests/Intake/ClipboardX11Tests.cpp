// Clipboard intake against a real X server (the test desktop): other
// programs write the CLIPBOARD selection with xclip or a helper, and the
// service polls it into a real store.
#include "Store/StoreTesting.h"
#include "Support/EventLoopWait.h"
#include "Support/ImageFixtures.h"
#include "TolvexCore/Intake/ClipboardLimits.h"
#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Intake/ClipboardImportService.h"
#include "Velmarin/Intake/ClipboardPollTrigger.h"
#include "Velmarin/Intake/SystemClipboardGateway.h"
#include "Velmarin/Platform/SystemPasteboard.h"
#include "Velmarin/Platform/X11SelectionReader.h"

#include <QClipboard>
#include <QCoro/QCoroTask>
#include <QGuiApplication>
#include <QMimeData>
#include <QProcess>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <limits>
#include <mutex>
#include <thread>

#include <xcb/xcb.h>

namespace tolvex::testing {
namespace {

const QString ownerProgram = QStringLiteral(TOLVEX_RUNTIME_DIR "/tolvex-clipboard-owner");

// A PNG large enough that its owner sends it in parts (INCR); `fill` makes
// each one a different picture.
QByteArray largePng(char fill)
{
    QByteArray png = test::craftedPng(1, 1);
    png.insert(png.size() - 12, test::pngChunk("prVt", QByteArray(6 << 20, fill)));
    return png;
}

QCoro::Task<void> pollThenMark(ClipboardImportService& service, bool& done)
{
    auto polling = service.poll();
    co_await std::move(polling);
    done = true;
}

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
    // The helper as a bare X owner (see ClipboardOwner.cpp), once it owns the
    // clipboard. Qt's own clipboard is not asked: it would read the owner on
    // this thread.
    QProcess* offer(const QStringList& arguments)
    {
        const std::int64_t before = pasteboard->changeCount();
        auto* process = new QProcess;
        owners.append(process);
        process->start(ownerProgram, QStringList{QStringLiteral("--offer")} + arguments);
        EXPECT_TRUE(waitUntil([&] { return pasteboard->changeCount() > before && printed(process).contains("ready"); }))
            << "the owner never took the clipboard";
        return process;
    }
    // Everything the process has printed so far.
    const QByteArray& printed(QProcess* process)
    {
        QByteArray& all = output[process];
        while (process->waitForReadyRead(0)) {
        }
        all += process->readAllStandardOutput();
        return all;
    }
    // The bytes the owner last said it had sent.
    qint64 sent(QProcess* process)
    {
        const QList<QByteArray> lines = printed(process).split('\n');
        for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
            if (line->startsWith("sent "))
                return line->mid(5).toLongLong();
        }
        return 0;
    }
    // Polls once, counting the GUI thread's timer ticks that fall between the
    // owner being asked for its content and the end of the poll, while the
    // owner still has some to send.
    int pollCountingTicks(QProcess* owner)
    {
        bool done = false;
        int ticks = 0;
        QTimer timer;
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            const QByteArray& said = printed(owner);
            if (!done && said.contains("asked") && !said.contains("finished"))
                ++ticks;
        });
        timer.start();
        launchTask(pollThenMark(*service, done), {});
        EXPECT_TRUE(waitUntil([&] { return done; }, 60000)) << "the poll never ended";
        return ticks;
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
    QHash<QProcess*, QByteArray> output;
};

TEST_F(ClipboardX11Test, EachKindBecomesItsMaterials)
{
    const QString first = test::writeFixture(folder, QStringLiteral("first.txt"), "one");
    const QString second = test::writeFixture(folder, QStringLiteral("second.txt"), "two");
    const QByteArray uriList = (QUrl::fromLocalFile(first).toString() + QStringLiteral("\r\n")
        + QUrl::fromLocalFile(second).toString() + QStringLiteral("\r\n")).toUtf8();
    const QByteArray png = test::encodeImage(test::patternImage(64, 48), "png");

    struct Case {
        const char* type;
        QByteArray input;
        QList<MaterialKind> kinds;
    };
    const Case cases[] = {
        {"UTF8_STRING", "Copied in another program", {MaterialKind::text}},
        {"image/png", png, {MaterialKind::image}},
        {"image/png", largePng('p'), {MaterialKind::image}},
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

    writeClipboard(ownerProgram, {QStringLiteral("--marked"), QStringLiteral("copied from a card")});
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
    writeClipboard(ownerProgram, {QStringLiteral("plain copy")});
    poll();
    ASSERT_EQ(hanging().size(), 1);
    EXPECT_EQ(hanging().first().kind, MaterialKind::text);
}

// No poll timer runs here: the notices of a new owner alone bring a copy in
// another program onto the shelf, the reader hears of each new owner
// straight from the server, and a copy of our own still makes no card.
TEST_F(ClipboardX11Test, ACopyLandsWithoutWaitingForThePollTimer)
{
    std::atomic<int> notices = 0;
    const auto reader = X11SelectionReader::connect([&notices] { ++notices; });
    ASSERT_TRUE(reader);
    int polls = 0;
    const ClipboardPollTrigger::Poll pollService = ClipboardPollTrigger::pollOf([this] { return service.get(); });
    ClipboardPollTrigger trigger([&]() -> QCoro::Task<bool> {
        auto polling = pollService();
        const bool looked = co_await std::move(polling);
        polls += looked;
        co_return looked;
    });
    QObject::connect(pasteboard.get(), &SystemPasteboard::changed, &trigger, &ClipboardPollTrigger::request);
    start();

    xclip(QStringLiteral("UTF8_STRING"), "copied in another program");
    EXPECT_TRUE(waitUntil([&] { return hanging().size() == 1; })) << "the copy never landed";
    EXPECT_TRUE(waitUntil([&] { return notices > 0; })) << "the reader never heard of the new owner";

    auto* ours = new QMimeData;
    ours->setText(QStringLiteral("copied from a card here"));
    ours->setData(QString::fromUtf16(PasteboardType::ownCopy), "1");
    const int before = polls;
    QGuiApplication::clipboard()->setMimeData(ours);
    ASSERT_TRUE(waitUntil([&] { return polls > before && !service->isBusy(); })) << "our own copy was never polled";
    EXPECT_EQ(hanging().size(), 1);
    EXPECT_EQ(service->state(), ClipboardIntakeState::active);
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
        const auto askTargets = [](X11SelectionReader::Session& session) { session.formats(); };
        EXPECT_TRUE(throwsStoreError([&] { waitForResult(reader->read(askTargets)); },
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

// An owner that dies while it is read, before it answers or in the middle of
// its answer, leaves an empty clipboard behind: intake still says that the
// read failed, until a copy that can be taken comes.
TEST_F(ClipboardX11Test, AnOwnerThatDiesWhileReadLeavesTheFailureShown)
{
    struct Case {
        const char* name;
        QStringList arguments;
        // What the owner has printed when it is killed.
        QByteArray killedAt;
    };
    const Case cases[] = {
        {"before it answers", {"UTF8_STRING", "--bytes", "24", "--delay", "3000"}, "asked"},
        {"in the middle of its answer", {"UTF8_STRING", "--bytes", "524288", "--part", "65536", "--pause", "300"},
            "sent 65536"},
    };
    start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QProcess* owner = offer(c.arguments);
        const std::int64_t offered = pasteboard->changeCount();
        bool done = false;
        QTimer watch;
        watch.setInterval(5);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (owner->state() == QProcess::Running && printed(owner).contains(c.killedAt))
                owner->kill();
        });
        watch.start();
        launchTask(pollThenMark(*service, done), {});
        ASSERT_TRUE(waitUntil([&] { return done; }, 60000)) << "the poll never ended";
        watch.stop();
        EXPECT_EQ(service->state(), ClipboardIntakeState::rejected);
        // On a slow machine the read may have given up waiting first; the owner goes all the same.
        owner->kill();
        owner->waitForFinished();
        // The poll that reads the empty clipboard the owner left behind.
        ASSERT_TRUE(waitUntil([&] { return pasteboard->changeCount() > offered && clipboardIsEmpty(); }));
        poll();
        EXPECT_EQ(service->state(), ClipboardIntakeState::rejected);

        xclip(QStringLiteral("UTF8_STRING"), QByteArray("taken afterwards ") + c.name);
        poll();
        EXPECT_EQ(service->state(), ClipboardIntakeState::active);
    }
    EXPECT_EQ(hanging().size(), 2);
}

// However another program serves the clipboard (too much, too slowly, too
// many kinds), it is read beside the GUI thread and no further than intake
// may take, the read fails where the intake status shows it, and nothing of
// it reaches a later copy: that one, long enough to come in parts itself,
// becomes a card byte for byte.
TEST_F(ClipboardX11Test, AnOwnerThatServesBadlyNeitherHoldsTheProgramNorSpoilsLaterCopies)
{
    const qint64 part = 65536;
    struct Case {
        const char* name;
        QStringList arguments;
        // The most the owner may have sent before the reader stopped asking.
        qint64 mostSent;
    };
    const Case cases[] = {
        {"an image past its limit whose owner goes on serving",
            {"image/png", "--bytes", "20971520", "--delay", "500", "--stay"}, ClipboardLimits::imageBytes + 1 + part},
        {"a text far past its limit", {"UTF8_STRING", "--bytes", "8388608", "--delay", "500"},
            ClipboardLimits::textBytes + 1 + part},
        // Each part well within the time a part may take, the whole far beyond a read's.
        {"a text dripping a byte every half second", {"UTF8_STRING", "--bytes", "24", "--part", "1", "--pause", "500"},
            std::numeric_limits<qint64>::max()},
        {"sixteen million targets", {"TARGETS", "--bytes", "67108864", "--delay", "500"},
            X11SelectionReader::maximumTargets * 4 + 1 + part},
    };
    start();
    char fill = 'a';
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const qsizetype cards = hanging().size();
        QProcess* owner = offer(c.arguments);
        EXPECT_GT(pollCountingTicks(owner), 0) << "the GUI thread stood still while the owner was read";
        EXPECT_EQ(service->state(), ClipboardIntakeState::rejected);
        EXPECT_EQ(hanging().size(), cards);
        EXPECT_LE(sent(owner), c.mostSent);

        const QByteArray picture = largePng(fill++);
        xclip(QStringLiteral("image/png"), picture);
        poll();
        ASSERT_EQ(hanging().size(), cards + 1);
        EXPECT_EQ(hanging().last().versions.first().byteCount, picture.size());
        EXPECT_EQ(service->state(), ClipboardIntakeState::active);
        owner->kill();
        owner->waitForFinished();
    }
}

// A client that grabs the server holds every other client's requests until
// it lets go, the reader's among them. A quit meanwhile ends the read and
// the reader at once rather than when the grab ends, which may be never.
TEST(ClipboardReaderX11, AQuitWhileAnotherClientGrabsTheServerDoesNotWaitForIt)
{
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    auto pasteboard = std::make_shared<SystemPasteboard>();
    auto gateway = std::make_unique<SystemClipboardGateway>(pasteboard);

    xcb_connection_t* grabber = xcb_connect(nullptr, nullptr);
    ASSERT_EQ(xcb_connection_has_error(grabber), 0);
    xcb_grab_server(grabber);
    // A round trip: the grab holds once it is answered.
    std::free(xcb_get_input_focus_reply(grabber, xcb_get_input_focus(grabber), nullptr));
    const QFuture<ClipboardContents> reading = gateway->readSnapshot();

    // Should the quit wait for the grab, the grab ends after a long while,
    // so that the test ends too.
    std::mutex lock;
    std::condition_variable ended;
    bool quit = false;
    bool grabEndedFirst = false;
    std::thread releaser([&] {
        std::unique_lock held(lock);
        if (!ended.wait_for(held, std::chrono::seconds(30), [&] { return quit; }))
            grabEndedFirst = true;
        xcb_ungrab_server(grabber);
        xcb_flush(grabber);
    });
    // What a quit does to the clipboard's reader.
    gateway.reset();
    pasteboard.reset();
    {
        const std::lock_guard held(lock);
        quit = true;
    }
    ended.notify_one();
    releaser.join();
    xcb_disconnect(grabber);

    EXPECT_FALSE(grabEndedFirst) << "the quit waited for the grab to end";
    EXPECT_TRUE(reading.isFinished());
    EXPECT_TRUE(throwsStoreError([&] { waitForResult(reading); }, StoreError::Code::invalidSource));
}

} // namespace
} // namespace tolvex::testing
