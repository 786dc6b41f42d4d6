#pragma once

#include "TolvexCore/Texts/MessageKey.h"
#include "Velmarin/Common/Published.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace tolvex {

// The one system-wide shortcut, Control+Alt+T, which shows or hides the
// shelf. Registration can fail or collide with another program's grab; the
// program stays fully usable without it and offers retry() while `status`
// is not `registered`. GUI thread only.
class HotKey {
public:
    enum class Status { registered, conflict, failed };

    using Undo = std::function<void()>;
    struct Outcome {
        std::int32_t code = 0; // 0 = success
        Undo undo;             // present on success only
    };
    // The two platform operations; the program uses the X11 one (Platform/),
    // tests inject their own.
    struct Backend {
        // Installs a handler that runs the action (later, on the GUI thread)
        // whenever the registered shortcut is pressed; undo removes it.
        std::function<Outcome(std::function<void()> action)> install;
        // Grabs the shortcut system-wide; undo releases it.
        std::function<Outcome(int keyCode, int modifiers)> registerKey;
    };

    // The T key with Control and Alt, the only shortcut ever registered.
    static constexpr int keyCode = 17;
    static constexpr int modifiers = 6144;
    // The registration answer for "someone else holds this shortcut".
    static constexpr std::int32_t alreadyTakenCode = -9878;
    static constexpr std::int32_t parameterErrorCode = -50;

    // Starts `failed`; call retry() to register.
    HotKey(Backend backend, std::function<void()> action);
    ~HotKey();
    HotKey(const HotKey&) = delete;
    HotKey& operator=(const HotKey&) = delete;

    // Safe at any time; does nothing once registered.
    void retry();

    Published<Status> status{Status::failed};

    static MessageKey messageKey(Status status);

private:
    Backend backend_;
    std::function<void()> action_;
    Undo removeHandler_;
    Undo unregister_;
    // Lets a handler outlive the hot key without calling into a dead one.
    std::shared_ptr<HotKey*> self_;
};

} // namespace tolvex
