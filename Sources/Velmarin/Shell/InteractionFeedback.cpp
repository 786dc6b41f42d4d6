#include "Velmarin/Shell/InteractionFeedback.h"

#include "TolvexCore/Model/StoreError.h"
#include "Velmarin/Shell/PlatformErrorForm.h"

#include <QException>

#include <algorithm>
#include <array>
#include <optional>

namespace tolvex {

namespace {

constexpr std::array<int, 2> permissionCodes{PlatformErrorForm::readNoPermission, PlatformErrorForm::writeNoPermission};
constexpr std::array<int, 2> pathCodes{PlatformErrorForm::noSuchFile, PlatformErrorForm::readNoSuchFile};

bool contains(const std::array<int, 2>& codes, int code)
{
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

} // namespace

InteractionFeedback::InteractionFeedback(std::exception_ptr error)
{
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

MessageKey InteractionFeedback::remedyButton(Kind kind)
{
    switch (kind) {
    case Kind::capacity: return MessageKey::settingsStorage;
    case Kind::sourceChanged: return MessageKey::importFiles;
    case Kind::access: return MessageKey::intakeSettings;
    case Kind::busy: return MessageKey::retryLater;
    case Kind::recovery: return MessageKey::reviewPendingTitle;
    }
    return MessageKey::reviewPendingTitle;
}

} // namespace tolvex
