#include "Velmarin/Shell/WorkflowAlerts.h"

#include "TolvexCore/Images/ImageAdmissionError.h"
#include "TolvexCore/Texts/MessageFormat.h"
#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Platform/RevealFailedError.h"
#include "Velmarin/Presentation/Alert.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Presentation/InteractionFeedback.h"
#include "Velmarin/Presentation/ShowInFileManager.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Windows/ReviewUnavailableError.h"

namespace tolvex {

WorkflowAlerts::WorkflowAlerts(Line& line, Remedies remedies, AlertRunner runAlert)
    : line_(&line), remedies_(std::move(remedies)), runAlert_(std::move(runAlert))
{
}

int WorkflowAlerts::run(Alert& alert)
{
    return runner()(alert);
}

WorkflowAlerts::AlertRunner WorkflowAlerts::runner() const
{
    if (runAlert_)
        return runAlert_;
    return [line = line_](Alert& alert) { return line ? line->runAlert(alert) : Alert::cancelResponse; };
}

void WorkflowAlerts::presentActionError(std::exception_ptr error)
{
    const Localizer localizer = appLocalizer();

    // An image refused at admission explains itself; there is nothing to
    // remedy, so the alert only informs.
    try {
        std::rethrow_exception(error);
    } catch (const ImageAdmissionError& refused) {
        Alert alert;
        alert.setTitle(localizer.string(MessageKey::actionFailed));
        alert.setMessage(refused.errorDescription());
        alert.addButton(localizer.string(MessageKey::alertOk));
        run(alert);
        return;
    } catch (const RevealFailedError& failed) {
        ShowInFileManager::presentFailure(failed.file(), runner(), remedies_.copyPath);
        return;
    } catch (const ReviewUnavailableError& unavailable) {
        presentReviewUnavailable(unavailable);
        return;
    } catch (...) {
    }
    presentWithRemedy(localizer.string(MessageKey::actionFailed), error);
}

void WorkflowAlerts::presentWithRemedy(const QString& title, std::exception_ptr error)
{
    const Localizer localizer = appLocalizer();
    Alert alert;
    alert.setTitle(title);
    const InteractionFeedback feedback(error);
    alert.setMessage(feedback.text(localizer));
    alert.addButton(localizer.string(InteractionFeedback::remedyButton(feedback.kind)));
    alert.addButton(localizer.string(MessageKey::cancel));
    if (run(alert) != Alert::firstButtonResponse)
        return;
    switch (feedback.kind) {
    case InteractionFeedback::Kind::capacity:
        if (remedies_.openSettings)
            remedies_.openSettings(1);
        break;
    case InteractionFeedback::Kind::sourceChanged:
        if (remedies_.chooseFiles)
            remedies_.chooseFiles();
        break;
    case InteractionFeedback::Kind::access:
        if (remedies_.openSettings)
            remedies_.openSettings(0);
        break;
    case InteractionFeedback::Kind::busy:
        break;
    case InteractionFeedback::Kind::recovery:
        if (remedies_.showRecovery)
            remedies_.showRecovery();
        break;
    case InteractionFeedback::Kind::noApplication:
        if (remedies_.revealFile && feedback.unopenedFile)
            launchTask(ShowInFileManager::show(*feedback.unopenedFile, runner(), remedies_.revealFile,
                           remedies_.copyPath),
                {});
        break;
    case InteractionFeedback::Kind::restart:
        if (remedies_.quit)
            remedies_.quit();
        break;
    }
}

void WorkflowAlerts::presentReviewUnavailable(const ReviewUnavailableError& unavailable)
{
    const Localizer localizer = appLocalizer();
    const InteractionFeedback feedback(unavailable.cause());
    // Only a library needing attention would send the user back to the
    // window that could not be built; other causes keep their own remedy.
    if (feedback.kind != InteractionFeedback::Kind::recovery) {
        presentWithRemedy(localizer.string(MessageKey::actionFailed), unavailable.cause());
        return;
    }
    Alert alert;
    alert.setTitle(localizer.string(MessageKey::actionFailed));
    QString message = feedback.text(localizer);
    // A stray entry's text names its folder already.
    if (!feedback.strayEntry)
        message += QStringLiteral("\n\n")
            + MessageFormat::format(localizer.string(MessageKey::recoveryReviewUnavailable),
                {unavailable.folder().toLocalFile()});
    alert.setMessage(message);
    alert.addButton(localizer.string(MessageKey::showInFinder));
    alert.addButton(localizer.string(MessageKey::alertOk));
    alert.setEscapeButton(1);
    if (run(alert) == Alert::firstButtonResponse && remedies_.revealFile)
        launchTask(
            ShowInFileManager::show(unavailable.folder(), runner(), remedies_.revealFile, remedies_.copyPath), {});
}

void WorkflowAlerts::presentCaptureError(std::exception_ptr error)
{
    const Localizer localizer = appLocalizer();
    const InteractionFeedback feedback(error);
    // Another folder would not help: nothing is saved until a new start.
    if (feedback.kind == InteractionFeedback::Kind::restart) {
        presentWithRemedy(localizer.string(MessageKey::captureUnavailable), error);
        return;
    }
    Alert alert;
    alert.setTitle(localizer.string(MessageKey::captureUnavailable));
    alert.setMessage(feedback.text(localizer));
    alert.addButton(localizer.string(MessageKey::chooseCaptureFolder));
    alert.addButton(localizer.string(MessageKey::cancel));
    if (run(alert) == Alert::firstButtonResponse && remedies_.chooseCaptureFolder)
        remedies_.chooseCaptureFolder();
}

void WorkflowAlerts::presentIntakeError(std::exception_ptr error, MessageKey title)
{
    if (intakeErrorShown_)
        return;
    intakeErrorShown_ = true;
    presentWithRemedy(appLocalizer().string(title), error);
}

} // namespace tolvex
