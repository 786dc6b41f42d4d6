#include "Shelf/ShelfTesting.h"
#include "Support/EventLoopWait.h"
#include "Support/LookAlikeNames.h"
#include "TolvexCore/Files/LocalPathEncoding.h"
#include "TolvexCore/Files/SystemFileOperations.h"
#include "TolvexCore/Images/ImageAdmissionError.h"
#include "TolvexCore/Model/UnexpectedEntryError.h"
#include "TolvexCore/Texts/MessageFormat.h"
#include "Velmarin/Platform/NoApplicationError.h"
#include "Velmarin/Platform/OpenFailedError.h"
#include "Velmarin/Platform/RevealFailedError.h"
#include "Velmarin/Presentation/Alert.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Presentation/NameOnlyFileIconProvider.h"
#include "Velmarin/Shell/FileChooser.h"
#include "Velmarin/Shell/WorkflowAlerts.h"
#include "Velmarin/Windows/ReviewUnavailableError.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

namespace tolvex {
namespace {

class WorkflowAlertsTest : public ::testing::Test {
protected:
    WorkflowAlerts alerts(int response)
    {
        return WorkflowAlerts(line,
            {[this](int page) { log += QStringLiteral("settings %1").arg(page); },
                [this] { log += QStringLiteral("files"); }, [this] { log += QStringLiteral("recovery"); },
                [this] { log += QStringLiteral("folder"); },
                [this](const QUrl& file) -> QCoro::Task<bool> {
                    log += QStringLiteral("reveal ") + file.toLocalFile();
                    co_return revealShows;
                },
                [this] { log += QStringLiteral("quit"); },
                [this](const QString& path) { log += QStringLiteral(", copy ") + path; }},
            [this, response](Alert& alert) {
                ++alertsRun;
                buttons = static_cast<int>(alert.window()->buttons().size());
                title = alert.window()->text();
                message = alert.window()->informativeText();
                buttonTexts.clear();
                for (const QAbstractButton* button : alert.window()->buttons())
                    buttonTexts.append(button->text());
                return response;
            });
    }

    testing::ControlledLineStore store;
    testing::MemoryUserDefaults defaults;
    Line line{store, defaults};
    QString log;
    QString title;
    QString message;
    QStringList buttonTexts;
    int buttons = 0;
    int alertsRun = 0;
    bool revealShows = true;
};

TEST_F(WorkflowAlertsTest, EachErrorOffersItsRemedy)
{
    struct Case {
        const char* name;
        std::exception_ptr error;
        int response;
        int buttons;
        QString log;
    };
    const QUrl copy = QUrl::fromLocalFile(QStringLiteral("/data/Exports/1/notes.unknownkind"));
    const std::vector<Case> cases = {
        {"image refused: nothing to remedy", std::make_exception_ptr(ImageAdmissionError::invalidImage()), 1000, 1, {}},
        {"budget", std::make_exception_ptr(StoreError::budgetExceeded()), 1000, 2, QStringLiteral("settings 1")},
        {"changed source", std::make_exception_ptr(StoreError::sourceChanged()), 1000, 2, QStringLiteral("files")},
        {"path", std::make_exception_ptr(StoreError::invalidPath()), 1000, 2, QStringLiteral("settings 0")},
        {"busy", std::make_exception_ptr(StoreError::operationInProgress()), 1000, 2, {}},
        {"recovery", std::make_exception_ptr(StoreError::recoveryRequired()), 1000, 2, QStringLiteral("recovery")},
        {"root replaced", std::make_exception_ptr(StoreError::rootReplaced()), 1000, 2, QStringLiteral("quit")},
        {"cancelled", std::make_exception_ptr(StoreError::budgetExceeded()), 1001, 2, {}},
        {"no application for the copy", std::make_exception_ptr(NoApplicationError(copy)), 1000, 2,
            QStringLiteral("reveal ") + copy.toLocalFile()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        alerts(c.response).presentActionError(c.error);
        EXPECT_EQ(title, appLocalizer().string(MessageKey::actionFailed));
        EXPECT_EQ(buttons, c.buttons);
        EXPECT_EQ(log, c.log);
    }
    // Not a changed source: the alert names the missing application, or
    // the launcher that never answered, and offers to show the copy.
    for (const auto& [error, key] : {std::pair{std::make_exception_ptr(NoApplicationError(copy)),
                                         MessageKey::errorNoApplication},
             std::pair{std::make_exception_ptr(OpenFailedError(copy)), MessageKey::errorOpenFailed}}) {
        alerts(1001).presentActionError(error);
        EXPECT_EQ(message, appLocalizer().string(key));
        EXPECT_TRUE(buttonTexts.contains(appLocalizer().string(MessageKey::showInFinder)))
            << buttonTexts.join(u'|').toStdString();
    }

    // An alert that only informs has the one button OK.
    alerts(1000).presentActionError(std::make_exception_ptr(ImageAdmissionError::pixelBudgetExceeded()));
    EXPECT_EQ(buttonTexts, QStringList{appLocalizer().string(MessageKey::alertOk)});
    EXPECT_EQ(message, appLocalizer().string(MessageKey::imagePixelLimit));

    log.clear();
    alerts(1000).presentCaptureError(std::make_exception_ptr(StoreError::invalidPath()));
    EXPECT_EQ(title, appLocalizer().string(MessageKey::captureUnavailable));
    EXPECT_EQ(log, QStringLiteral("folder"));
}

// A data root replaced behind the program is mended only by a new start:
// the capture folder's alert and an intake's offer to quit, as an action's
// does; an intake's alert is shown once, for its failure comes back at
// every later attempt.
TEST_F(WorkflowAlertsTest, AReplacedDataRootOffersToQuitFromEveryAlert)
{
    const std::exception_ptr replaced = std::make_exception_ptr(StoreError::rootReplaced());
    const QStringList quitOrCancel{
        appLocalizer().string(MessageKey::quit), appLocalizer().string(MessageKey::cancel)};

    log.clear();
    alerts(1000).presentCaptureError(replaced);
    EXPECT_EQ(title, appLocalizer().string(MessageKey::captureUnavailable));
    EXPECT_EQ(message, appLocalizer().string(MessageKey::feedbackRootReplaced));
    EXPECT_EQ(buttonTexts, quitOrCancel);
    EXPECT_EQ(log, QStringLiteral("quit"));

    log.clear();
    buttons = 0;
    WorkflowAlerts intake = alerts(1000);
    intake.presentIntakeError(replaced, MessageKey::clipboardRejected);
    EXPECT_EQ(title, appLocalizer().string(MessageKey::clipboardRejected));
    EXPECT_EQ(message, appLocalizer().string(MessageKey::feedbackRootReplaced));
    EXPECT_EQ(buttonTexts, quitOrCancel);
    EXPECT_EQ(log, QStringLiteral("quit"));
    buttons = 0;
    intake.presentIntakeError(replaced, MessageKey::captureImportFailed);
    EXPECT_EQ(buttons, 0) << "shown once";
}

// A recovery window that could not be built is never offered again: the
// alert says why and in which folder, and offers to show that folder. A
// stray entry's text names its folder itself; a cause with a remedy of its
// own (a replaced root) keeps it.
TEST_F(WorkflowAlertsTest, AReviewThatCannotOpenOffersItsFolderNeverItself)
{
    const QUrl drafts = QUrl::fromLocalFile(QStringLiteral("/data/Tolvex/Drafts"));
    const QString folder = drafts.toLocalFile();
    const auto unavailable = [&](std::exception_ptr cause) {
        return std::make_exception_ptr(ReviewUnavailableError(cause, drafts));
    };
    const QString listed = MessageFormat::format(
        appLocalizer().string(MessageKey::recoveryReviewUnavailable), {folder});
    const QStringList showOrOk{
        appLocalizer().string(MessageKey::showInFinder), appLocalizer().string(MessageKey::alertOk)};
    struct Case {
        const char* name;
        std::exception_ptr error;
        int response;
        QString message;
        QStringList buttons;
        QString log;
    };
    const std::vector<Case> cases = {
        {"a library needing attention", unavailable(std::make_exception_ptr(StoreError::recoveryRequired())), 1000,
            appLocalizer().string(MessageKey::feedbackRecovery) + QStringLiteral("\n\n") + listed, showOrOk,
            QStringLiteral("reveal ") + folder},
        {"answered OK", unavailable(std::make_exception_ptr(StoreError::recoveryRequired())), 1001,
            appLocalizer().string(MessageKey::feedbackRecovery) + QStringLiteral("\n\n") + listed, showOrOk, {}},
        {"a stray entry", unavailable(std::make_exception_ptr(UnexpectedEntryError(QStringLiteral("Drafts"), QStringLiteral("x")))),
            1000,
            MessageFormat::format(appLocalizer().string(MessageKey::recoveryUnexpectedEntry),
                {QStringLiteral("x"), QStringLiteral("Drafts")}),
            showOrOk, QStringLiteral("reveal ") + folder},
        {"a replaced root", unavailable(std::make_exception_ptr(StoreError::rootReplaced())), 1000,
            appLocalizer().string(MessageKey::feedbackRootReplaced),
            {appLocalizer().string(MessageKey::quit), appLocalizer().string(MessageKey::cancel)}, QStringLiteral("quit")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        alerts(c.response).presentActionError(c.error);
        EXPECT_EQ(title, appLocalizer().string(MessageKey::actionFailed));
        EXPECT_EQ(message, c.message);
        EXPECT_EQ(buttonTexts, c.buttons);
        EXPECT_EQ(log, c.log) << "never the recovery window again";
    }
}

// A copy that nothing could show, whether the card's own Show in File
// Manager or the remedy of a failed open tried: the alert names its path,
// and its first button copies the path.
TEST_F(WorkflowAlertsTest, AFileThatCouldNotBeShownIsNamedWithItsPath)
{
    const QUrl copy = QUrl::fromLocalFile(QStringLiteral("/data/Exports/1/notes.unknownkind"));
    const QString path = copy.toLocalFile();
    struct Case {
        const char* name;
        std::exception_ptr error;
        bool revealShows;
        int response;
        int alerts;
        QString log;
    };
    const std::vector<Case> cases = {
        {"the card's reveal failed, path copied", std::make_exception_ptr(RevealFailedError(copy)), false, 1000, 1,
            QStringLiteral(", copy ") + path},
        {"the card's reveal failed, cancelled", std::make_exception_ptr(RevealFailedError(copy)), false, 1001, 1, {}},
        {"the remedy shows the copy", std::make_exception_ptr(NoApplicationError(copy)), true, 1000, 1,
            QStringLiteral("reveal ") + path},
        {"the remedy could not show it", std::make_exception_ptr(NoApplicationError(copy)), false, 1000, 2,
            QStringLiteral("reveal ") + path + QStringLiteral(", copy ") + path},
        {"the remedy of a failed launcher", std::make_exception_ptr(OpenFailedError(copy)), false, 1000, 2,
            QStringLiteral("reveal ") + path + QStringLiteral(", copy ") + path},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        alertsRun = 0;
        revealShows = c.revealShows;
        alerts(c.response).presentActionError(c.error);
        EXPECT_EQ(alertsRun, c.alerts);
        EXPECT_EQ(log, c.log);
        if (!c.revealShows) {
            EXPECT_EQ(message, MessageFormat::format(appLocalizer().string(MessageKey::revealFailed), {path}));
            EXPECT_EQ(buttonTexts,
                QStringList({appLocalizer().string(MessageKey::revealCopyPath), appLocalizer().string(MessageKey::cancel)}));
        }
    }
}

TEST_F(WorkflowAlertsTest, FileChooserHandsChosenFilesOnOnlyWhenStillUncovered)
{
    QList<QList<ImportRequest>> received;
    line.onReceiveInput = [&](const QList<ImportRequest>& requests) {
        received.append(requests);
        return true;
    };
    const auto files = [](int count) {
        QList<QUrl> urls;
        for (int index = 0; index < count; ++index)
            urls.append(QUrl::fromLocalFile(QStringLiteral("/tmp/f%1").arg(index)));
        return urls;
    };
    struct Case {
        const char* name;
        bool canReceive;
        bool coverWhileOpen;
        std::optional<QList<QUrl>> chosen;
        qsizetype handedOn; // -1: nothing handed on
        bool capacityShown;
    };
    const QUrl copy = QUrl::fromLocalFile(QStringLiteral("/data/Exports/1/notes.unknownkind"));
    const std::vector<Case> cases = {
        {"two files", true, false, files(2), 2, false},
        {"cancelled", true, false, std::nullopt, -1, false},
        {"input not accepted", false, false, files(2), -1, false},
        {"covered while open", true, true, files(2), -1, false},
        {"32 files", true, false, files(32), 32, false},
        {"33 files", true, false, files(33), -1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        received.clear();
        line.inputFeedback = QString();
        line.canReceiveInput = c.canReceive;
        FileChooser::chooseFiles(line, [&](QFileDialog& dialog) {
            EXPECT_NE(dynamic_cast<NameOnlyFileIconProvider*>(dialog.iconProvider()), nullptr);
            if (c.coverWhileOpen)
                line.coverImmediately();
            return c.chosen;
        });
        if (c.handedOn < 0) {
            EXPECT_TRUE(received.isEmpty());
        } else {
            ASSERT_EQ(received.size(), 1);
            EXPECT_EQ(received[0].size(), c.handedOn);
        }
        EXPECT_EQ(line.inputFeedback() == appLocalizer().string(MessageKey::feedbackCapacity), c.capacityShown);
        if (line.isCovered())
            line.snapshot.modify([](WorkspaceSnapshot& s) { s.privacyHidden = false; });
    }
}

// Qt's dialog shows a name that is not UTF-8 with U+FFFD. Chosen, it goes
// on as the one file whose name reads so; beside a look-alike, as none,
// and the rope says why.
TEST_F(WorkflowAlertsTest, FileChooserTakesANameShownWithReplacementCharactersOnlyForTheOneFileItCanBe)
{
    QList<ImportRequest> received;
    line.onReceiveInput = [&](const QList<ImportRequest>& requests) {
        received = requests;
        return true;
    };
    line.canReceiveInput = true;
    for (const bool withTwin : {false, true}) {
        SCOPED_TRACE(withTwin ? "beside a look-alike" : "alone");
        QTemporaryDir folder;
        const test::LookAlikeNames names = test::LookAlikeNames::make(folder.path(), withTwin);
        received.clear();
        line.inputFeedback = QString();
        FileChooser::chooseFiles(line, [&](QFileDialog& dialog) {
            dialog.setDirectory(folder.path());
            QTimer::singleShot(0, &dialog, [&dialog] {
                dialog.selectFile(QStringLiteral("\uFFFD\uFFFD.png"));
                QMetaObject::invokeMethod(&dialog, "accept");
            });
            return FileChooser::runDialog(dialog);
        });
        ASSERT_TRUE(testing::waitUntil([&] { return !received.isEmpty() || !line.inputFeedback().isEmpty(); }));
        if (withTwin) {
            EXPECT_TRUE(received.isEmpty());
            EXPECT_EQ(line.inputFeedback(),
                MessageFormat::format(appLocalizer().string(MessageKey::feedbackAmbiguousName),
                    {QStringLiteral("\uFFFD\uFFFD.png"), folder.path()}));
        } else {
            ASSERT_EQ(received.size(), 1);
            const QUrl url = received[0].asFile()->url;
            EXPECT_EQ(encodeLocalPath(url.toLocalFile()), QFile::encodeName(folder.path()) + "/\xFF\xFE.png");
            EXPECT_EQ(SystemFileOperations::shared()->read(url), names.rawBytes);
        }
    }
}

} // namespace
} // namespace tolvex
