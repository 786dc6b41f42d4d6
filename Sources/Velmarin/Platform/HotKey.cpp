#include "Velmarin/Platform/HotKey.h"

#include <utility>

namespace tolvex {

HotKey::HotKey(Backend backend, std::function<void()> action)
    : backend_(std::move(backend)), action_(std::move(action)), self_(std::make_shared<HotKey*>(this))
{
}

HotKey::~HotKey()
{
    *self_ = nullptr;
    if (unregister_)
        unregister_();
    if (removeHandler_)
        removeHandler_();
}

void HotKey::retry()
{
    if (status() == Status::registered)
        return;

    // The handler may fire after a failed attempt left it installed for a
    // moment, or after the hot key is gone: only a live, registered hot key
    // acts.
    std::weak_ptr<HotKey*> weak = self_;
    Outcome installed = backend_.install ? backend_.install([weak] {
        const auto self = weak.lock();
        if (self && *self && (*self)->status() == Status::registered && (*self)->action_)
            (*self)->action_();
    })
                                         : Outcome{parameterErrorCode, {}};
    if (installed.code != 0) {
        if (installed.undo)
            installed.undo();
        status = Status::failed;
        return;
    }

    Outcome registered = backend_.registerKey ? backend_.registerKey(keyCode, modifiers)
                                              : Outcome{parameterErrorCode, {}};
    if (registered.code != 0) {
        if (registered.undo)
            registered.undo();
        if (installed.undo)
            installed.undo();
        status = registered.code == alreadyTakenCode ? Status::conflict : Status::failed;
        return;
    }

    removeHandler_ = std::move(installed.undo);
    unregister_ = std::move(registered.undo);
    status = Status::registered;
}

MessageKey HotKey::messageKey(Status status)
{
    switch (status) {
    case Status::registered:
        return MessageKey::shortcutActive;
    case Status::conflict:
        return MessageKey::shortcutConflict;
    case Status::failed:
        break;
    }
    return MessageKey::shortcutFailed;
}

} // namespace tolvex
