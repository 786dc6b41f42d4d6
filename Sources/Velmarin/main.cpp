// The entry point of `tolvex`: parses the command line, checks the resource
// bundle, replaces the application's localizer and, for an installed
// program, checks or installs the starter workspace. Any failure on the way
// ends the process with one fixed line on standard error and status 2.
// A data root that is a link is no such failure: it is the user's folder,
// not the command line or the installation, and the launch alert explains
// it in a window.
// Then the process claims the data root: when another program holds it, that
// one is asked to show its shelf and this one ends (status 0) without
// reading or writing the root. Otherwise the application delegate runs the
// program until it quits.
#include "TolvexCore/Files/DataRootLock.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Startup/AppBundle.h"
#include "TolvexCore/Startup/DataRootLink.h"
#include "TolvexCore/Startup/PathResolution.h"
#include "TolvexCore/Startup/ResourceBundleLocator.h"
#include "TolvexCore/Startup/StarterWorkspaceBootstrap.h"
#include "TolvexCore/Store/MaterialStore.h"
#include "Velmarin/Platform/RunningInstance.h"
#include "Velmarin/Presentation/Alert.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Presentation/ProgramIcon.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Shell/AppDelegate.h"
#include "Velmarin/Shell/AppEnvironment.h"

#include <QApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QStringList>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <system_error>

using namespace tolvex;

namespace {

constexpr char resourcesOkLine[] = "Tolvex resources OK: en, es, zh-Hans\n";
constexpr char failureLine[] = "Tolvex: invalid arguments or missing resources\n";
constexpr char alreadyRunningLine[] = "Tolvex: already running with this data root\n";

// Until the checks are done and the data root is claimed, the program's
// output is at most one of the lines above; Qt's own diagnostics (a
// non-UTF-8 locale, a missing runtime folder) would otherwise slip in between.
void discardMessages(QtMsgType, const QMessageLogContext&, const QString&)
{
}

bool writeLine(std::FILE* stream, const char* line)
{
    return std::fputs(line, stream) >= 0 && std::fflush(stream) == 0;
}

enum class Outcome { checked, started };

Outcome runStartup(const QStringList& arguments, AppEnvironment& environment)
{
    // The command line comes first: a bad one fails even in check mode.
    environment = AppEnvironment::parse(arguments);

    // Nothing may touch a data root before the bundle has passed.
    const AppBundle appBundle = AppBundle::main();
    const ResourceBundle resources = ResourceBundleLocator::resolve(appBundle);
    ResourceBundleLocator::validate(resources);

    replaceAppLocalizer(Localizer(Localizer::preferredLanguageIdentifier(), resources));

    // Only an installed program carries a starter workspace.
    std::optional<QUrl> starter;
    if (const std::optional<QString> resourceFolder = appBundle.resourceFolder())
        starter = QUrl::fromLocalFile(PathResolution::appending(*resourceFolder, QStringLiteral("StarterWorkspace")));
    const bool fromApplicationBundle = appBundle.isApplication();

    if (environment.checkResources) {
        if (fromApplicationBundle) {
            if (!starter)
                throw StoreError::invalidSource();
            StarterWorkspaceBootstrap::validate(*starter);
        }
        return Outcome::checked;
    }

    // An existing data root is left as it is; a new one gets the starter.
    // A link in its place would be refused here as the store refuses it;
    // the store's refusal reaches the user as the launch alert instead.
    if (fromApplicationBundle) {
        if (!starter)
            throw StoreError::invalidSource();
        if (!DataRootLink::target(environment.dataRoot))
            StarterWorkspaceBootstrap::installIfAbsent(*starter, environment.dataRoot);
    }
    return Outcome::started;
}

// The claim on the data root, taken after the starter workspace is in place
// (its publish is an exclusive rename, safe to race) and before anything
// reads the root, exactly as the store would take it: a root the store
// refuses (a link) is not claimed, so that the folder behind it stays free
// for a start that names it. Held by another program: none, and
// `heldElsewhere`. Any other failure is left to the store, which tries again
// on its first load and names the error there.
struct Claim {
    std::optional<DataRootLock> lock;
    bool heldElsewhere = false;
};

Claim claimDataRoot(const QUrl& dataRoot)
{
    try {
        return {MaterialStore::lockDataRoot(dataRoot), false};
    } catch (const std::system_error& error) {
        return {std::nullopt, error.code() == std::errc::operation_would_block};
    } catch (...) {
        return {};
    }
}

// The pause between two looks of a start that found its data root taken
// and nobody listening for it.
constexpr int lookAgainMs = 50;

// Claims the data root, or asks the program that holds it to show its shelf.
// An owner claims the root before it listens, and stops listening before it
// lets go of the root: a start that comes in between finds the root taken
// and nobody listening, and looks again (for the claim too, which may be
// free by then) until the owner answers or the deadline passes.
// `heldElsewhere` with `answered` false: nobody answered in time.
struct Start {
    Claim claim;
    bool answered = false;
};

Start claimOrAsk(const QUrl& dataRoot)
{
    const QDeadlineTimer deadline(RunningInstance::answerDeadlineMs);
    for (;;) {
        Start start{claimDataRoot(dataRoot), false};
        if (!start.claim.heldElsewhere)
            return start;
        const RunningInstance::Reply reply = RunningInstance::askToShow(
            dataRoot.toLocalFile(), static_cast<int>(std::max<qint64>(deadline.remainingTime(), 0)));
        start.answered = reply == RunningInstance::Reply::shown;
        if (reply != RunningInstance::Reply::nobodyListening || deadline.hasExpired())
            return start;
        QThread::msleep(lookAgainMs);
    }
}

// For a start that found its data root taken and no program answering.
void showAlreadyRunning()
{
    const Localizer localizer = appLocalizer();
    Alert alert(QMessageBox::Information);
    alert.setTitle(localizer.string(MessageKey::appAlreadyRunning));
    alert.setMessage(localizer.string(MessageKey::appAlreadyRunningMessage));
    alert.addButton(localizer.string(MessageKey::appAlreadyRunningDismiss));
    alert.run();
}

} // namespace

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int index = 1; index < argc; ++index)
        arguments.append(QString::fromLocal8Bit(argv[index]));

    AppEnvironment environment;
    Claim claim;
    {
        // The checks need no display: `--check-resources` runs anywhere.
        const QtMessageHandler previousHandler = qInstallMessageHandler(discardMessages);
        QCoreApplication application(argc, argv);

        Outcome outcome;
        try {
            outcome = runStartup(arguments, environment);
        } catch (...) {
            writeLine(stderr, failureLine);
            return 2;
        }
        if (outcome == Outcome::checked) {
            if (!writeLine(stdout, resourcesOkLine)) {
                writeLine(stderr, failureLine);
                return 2;
            }
            return 0;
        }

        Start start = claimOrAsk(environment.dataRoot);
        claim = std::move(start.claim);
        if (claim.heldElsewhere) {
            // The shelf coming down is the answer; an alert only when nobody
            // answered in time (an owner stuck, or one that never listens).
            writeLine(stderr, alreadyRunningLine);
            if (start.answered)
                return 0;
        }
        qInstallMessageHandler(previousHandler);
    }

    // An accessory program: no window is its main one, so closing the last
    // never ends it; only a quit through the quit checks does.
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    // A bare window manager names no icon theme; the one Debian installs
    // with its desktops stands in for the icons the windows ask for.
    QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
    // The desktop entry's name ties the windows to the entry; every window
    // and the tray show the program's own icon.
    QGuiApplication::setDesktopFileName(QString::fromLatin1(ProgramIcon::appID));
    QApplication::setWindowIcon(ProgramIcon::icon());
    // The translator installed during the checks went with their application object.
    installQtTranslations();
    if (claim.heldElsewhere) {
        showAlreadyRunning();
        return 0;
    }
    AppDelegate::Options options;
    options.rootLock = std::move(claim.lock);
    AppDelegate delegate(environment, std::move(options));
    delegate.applicationWillFinishLaunching();
    delegate.applicationDidFinishLaunching();
    QApplication::exec();
    // Thumbnails may still be decoding on worker threads; they need the
    // application's image plugins until they are done.
    Line::finishBackgroundWork();
    QThreadPool::globalInstance()->clear();
    QThreadPool::globalInstance()->waitForDone();
    return 0;
}
