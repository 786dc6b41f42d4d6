#include "Velmarin/Shell/LaunchRecovery.h"

#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Startup/DataRootLink.h"
#include "TolvexCore/Texts/MessageFormat.h"
#include "Velmarin/Common/MainTask.h"
#include "Velmarin/Presentation/Alert.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Presentation/InteractionFeedback.h"
#include "Velmarin/Shelf/Line.h"

#include <QCoro/QCoroFuture>
#include <QPointer>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <utility>
#include <vector>

namespace tolvex {

namespace {

// A question that could not be answered is a no.
QCoro::Task<bool> answerOrNo(QFuture<bool> question)
{
    try {
        co_return co_await question;
    } catch (...) {
        co_return false;
    }
}

// A look that failed finds no link.
QCoro::Task<std::optional<LaunchRecovery::RootLink>> linkOrNone(QFuture<std::optional<LaunchRecovery::RootLink>> look)
{
    try {
        co_return co_await look;
    } catch (...) {
        co_return std::nullopt;
    }
}

} // namespace

LaunchRecovery::LaunchRecovery(Line& line, Hooks hooks) : line_(line), hooks_(std::move(hooks))
{
}

QFuture<std::optional<LaunchRecovery::RootLink>> LaunchRecovery::linkAt(const QUrl& dataRoot)
{
    return QtConcurrent::run(QThreadPool::globalInstance(), [dataRoot]() -> std::optional<RootLink> {
        if (const std::optional<QString> target = DataRootLink::target(dataRoot))
            return RootLink{dataRoot.toLocalFile(), *target};
        return std::nullopt;
    });
}

void LaunchRecovery::present(std::exception_ptr error, bool allowRestore)
{
    launchTask(recover(error, allowRestore, false), {});
}

QCoro::Task<void> LaunchRecovery::recover(std::exception_ptr error, bool allowRestore, bool offerRetry)
{
    const QPointer<LaunchRecovery> self(this);
    enum class Choice { restore, reveal, retry, quit };
    for (;;) {
        const std::optional<StoreError::Code> code = StoreError::codeOf(error);
        // A library folder that is a link fails every load as a path the
        // store refuses; the user learns what the link is and where it leads.
        std::optional<RootLink> link;
        if (hooks_.rootLink && code == StoreError::Code::invalidPath) {
            auto looking = linkOrNone(hooks_.rootLink());
            link = co_await std::move(looking);
            if (!self)
                co_return;
        }
        bool offerRestore = allowRestore && !link
            && (code == StoreError::Code::recoveryRequired || code == StoreError::Code::invalidSnapshot);
        if (offerRestore) {
            // A restore that would not end with a loaded workspace is no way out.
            auto asking = answerOrNo(
                hooks_.canRestorePrevious ? hooks_.canRestorePrevious() : QtFuture::makeReadyFuture(false));
            offerRestore = co_await std::move(asking);
            if (!self)
                co_return;
        }
        const Localizer localizer = appLocalizer();
        const InteractionFeedback feedback(error);
        std::vector<std::pair<Choice, MessageKey>> choices;
        if (offerRestore)
            choices.emplace_back(Choice::restore, MessageKey::recoveryPrevious);
        choices.emplace_back(Choice::reveal, MessageKey::revealWorkspace);
        // A named entry can be moved out of the way without the folder shown.
        // A folder replaced under the program is never loaded again: only a
        // new start may claim what now stands at its path. So is a link
        // mended: the start claims the folder and installs what a new one needs.
        const bool mustRestart = feedback.kind == InteractionFeedback::Kind::restart || link;
        if ((offerRetry || feedback.strayEntry) && !mustRestart)
            choices.emplace_back(Choice::retry, MessageKey::recoveryTryAgain);
        choices.emplace_back(Choice::quit, MessageKey::quit);

        Alert alert;
        alert.setTitle(localizer.string(MessageKey::recoveryTitle));
        // The text names only the ways out that the buttons offer.
        QString message
            = localizer.string(offerRestore ? MessageKey::recoveryMessage : MessageKey::recoveryMessageWithoutRestore);
        if (link)
            message += QStringLiteral("\n\n")
                + MessageFormat::format(localizer.string(MessageKey::recoveryLinkedRoot), {link->path, link->target});
        else if (feedback.strayEntry || mustRestart)
            message += QStringLiteral("\n\n") + feedback.text(localizer);
        alert.setMessage(message);
        for (const auto& [choice, key] : choices)
            alert.addButton(localizer.string(key));
        const int response = hooks_.runAlert(alert);
        if (!self)
            co_return;
        if (response == Alert::cancelResponse) {
            // Cut short by the privacy cover: without a way back the program
            // would stay without a workflow for the rest of the run.
            hooks_.onInterrupted(error, allowRestore);
            co_return;
        }
        const std::size_t index = static_cast<std::size_t>(response - Alert::firstButtonResponse);
        const Choice choice = index < choices.size() ? choices[index].first : Choice::quit;
        if (choice == Choice::quit) {
            hooks_.quit();
            co_return;
        }
        if (choice == Choice::reveal) {
            // The user may mend the folder now; the alert waits to load it again.
            hooks_.revealDataRoot();
            offerRetry = true;
            continue;
        }
        std::exception_ptr failure;
        try {
            auto reopening = reopen(choice == Choice::restore);
            co_await std::move(reopening);
        } catch (...) {
            failure = std::current_exception();
        }
        if (!self || !failure)
            co_return;
        error = failure;
        if (choice == Choice::restore)
            allowRestore = false;
    }
}

QCoro::Task<void> LaunchRecovery::reopen(bool restore)
{
    const QPointer<LaunchRecovery> self(this);
    if (restore) {
        if (!hooks_.restorePrevious)
            throw StoreError::recoveryRequired();
        auto restoring = hooks_.restorePrevious();
        WorkspaceSnapshot restored = co_await std::move(restoring);
        if (!self)
            co_return;
        auto rendering = line_.render(std::move(restored));
        co_await std::move(rendering);
    } else {
        auto loading = line_.load();
        co_await std::move(loading);
    }
    if (self)
        hooks_.onLoaded();
}

} // namespace tolvex
