#include "Velmarin/Presentation/InteractionFeedback.h"

#include "TolvexCore/Model/AmbiguousNameError.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Model/UnexpectedEntryError.h"
#include "TolvexCore/Texts/Localizer.h"
#include "TolvexCore/Texts/MessageFormat.h"
#include "Velmarin/Platform/NoApplicationError.h"
#include "Velmarin/Platform/OpenFailedError.h"
#include "Velmarin/Presentation/PlatformErrorForm.h"

#include <QException>

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

namespace tolvex {

namespace {

constexpr std::array<int, 2> permissionCodes{PlatformErrorForm::readNoPermission, PlatformErrorForm::writeNoPermission};
constexpr std::array<int, 2> pathCodes{PlatformErrorForm::noSuchFile, PlatformErrorForm::readNoSuchFile};

bool contains(const std::array<int, 2>& codes, int code)
{
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

// What `take` reads from the error when it is a `Failure`, looked for
// through a QFuture's wrapper too.
template <typename Failure, typename Take>
auto readFrom(const std::exception_ptr& error, Take take)
    -> std::optional<decltype(take(std::declval<const Failure&>()))>
{
    if (!error)
        return std::nullopt;
    try {
        std::rethrow_exception(error);
    } catch (const QUnhandledException& wrapper) {
        return readFrom<Failure>(wrapper.exception(), take);
    } catch (const Failure& failure) {
        return take(failure);
    } catch (...) {
        return std::nullopt;
    }
}

} // namespace

InteractionFeedback::InteractionFeedback(std::exception_ptr error)
{
    // The file is fine and where it should be: only the desktop lacks a way to open it.
    if ((unopenedFile = readFrom<NoApplicationError>(error, [](const auto& refused) { return refused.file(); }))) {
        message = MessageKey::errorNoApplication;
        kind = Kind::noApplication;
        return;
    }
    // Nor did the desktop say there is none: its launcher never answered.
    if ((unopenedFile = readFrom<OpenFailedError>(error, [](const auto& failed) { return failed.file(); }))) {
        message = MessageKey::errorOpenFailed;
        kind = Kind::noApplication;
        return;
    }
    const PlatformErrorForm form = PlatformErrorForm::of(error);
    const bool fileManager = form.domain == PlatformErrorForm::Domain::fileManager;
    if (fileManager && contains(permissionCodes, form.code)) {
        message = MessageKey::feedbackPermission;
        kind = Kind::access;
        return;
    }
    // A full volume or quota is the room the store's own checks speak of.
    if (fileManager && form.code == PlatformErrorForm::writeOutOfSpace) {
        message = MessageKey::feedbackCapacity;
        kind = Kind::capacity;
        return;
    }
    // A foreign entry is recoveryRequired too, but naming it tells the user
    // what to move out of the way, where "needs attention" would not.
    if ((strayEntry = readFrom<UnexpectedEntryError>(
             error, [](const auto& stray) { return Entry{stray.entry(), stray.folder()}; }))) {
        message = MessageKey::recoveryUnexpectedEntry;
        kind = Kind::recovery;
        return;
    }
    // Naming the look-alikes tells the user what to rename, where "couldn't
    // be found" would send them looking for a file that is there.
    if ((ambiguousName = readFrom<AmbiguousNameError>(
             error, [](const auto& ambiguous) { return Entry{ambiguous.name(), ambiguous.folder()}; }))) {
        message = MessageKey::feedbackAmbiguousName;
        kind = Kind::sourceChanged;
        return;
    }
    if (const std::optional<StoreError::Code> code = StoreError::codeOf(error)) {
        switch (*code) {
        case StoreError::Code::invalidSource:
        case StoreError::Code::sourceChanged:
        case StoreError::Code::notFound:
            message = MessageKey::feedbackSourceChanged;
            kind = Kind::sourceChanged;
            return;
        case StoreError::Code::unavailableSpace:
        case StoreError::Code::budgetExceeded:
            message = MessageKey::feedbackCapacity;
            kind = Kind::capacity;
            return;
        case StoreError::Code::operationInProgress:
            message = MessageKey::feedbackBusy;
            kind = Kind::busy;
            return;
        case StoreError::Code::invalidPath:
            message = MessageKey::feedbackPath;
            kind = Kind::access;
            return;
        case StoreError::Code::rootReplaced:
            message = MessageKey::feedbackRootReplaced;
            kind = Kind::restart;
            return;
        case StoreError::Code::invalidSnapshot:
        case StoreError::Code::unsupportedSchema:
        case StoreError::Code::recoveryRequired:
        case StoreError::Code::invalidEdit:
            break;
        }
    }
    if (fileManager && contains(pathCodes, form.code)) {
        message = MessageKey::feedbackPath;
        kind = Kind::access;
        return;
    }
    message = MessageKey::feedbackRecovery;
    kind = Kind::recovery;
}

QString InteractionFeedback::text(const Localizer& localizer) const
{
    if (const std::optional<Entry>& named = strayEntry ? strayEntry : ambiguousName)
        return MessageFormat::format(localizer.string(message), {named->name, named->folder});
    return localizer.string(message);
}

MessageKey InteractionFeedback::remedyButton(Kind kind)
{
    switch (kind) {
    case Kind::capacity: return MessageKey::settingsStorage;
    case Kind::sourceChanged: return MessageKey::importFiles;
    case Kind::access: return MessageKey::intakeSettings;
    case Kind::busy: return MessageKey::retryLater;
    case Kind::recovery: return MessageKey::reviewPendingTitle;
    case Kind::noApplication: return MessageKey::showInFinder;
    case Kind::restart: return MessageKey::quit;
    }
    return MessageKey::reviewPendingTitle;
}

} // namespace tolvex
