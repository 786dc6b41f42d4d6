#include "Velmarin/Platform/HotKey.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace tolvex {
namespace {

// A backend that answers with chosen codes and records what it was asked.
struct ScriptedBackend {
    std::vector<std::int32_t> installCodes;
    std::vector<std::int32_t> registerCodes;
    std::vector<std::string> log;
    std::function<void()> installedAction;

    HotKey::Backend backend()
    {
        return {
            [this](std::function<void()> action) {
                const std::int32_t code = next(installCodes);
                log.push_back("install");
                installedAction = action;
                return HotKey::Outcome{code, [this] { log.push_back("remove"); }};
            },
            [this](int keyCode, int modifiers) {
                EXPECT_EQ(keyCode, 17);
                EXPECT_EQ(modifiers, 6144);
                const std::int32_t code = next(registerCodes);
                log.push_back("register");
                return HotKey::Outcome{code, code == 0 ? HotKey::Undo([this] { log.push_back("unregister"); }) : HotKey::Undo()};
            },
        };
    }

    static std::int32_t next(std::vector<std::int32_t>& codes)
    {
        if (codes.empty())
            return 0;
        const std::int32_t code = codes.front();
        codes.erase(codes.begin());
        return code;
    }
};

TEST(HotKey, RetryMovesBetweenStatesAsTheBackendAnswers)
{
    struct Case {
        const char* name;
        std::vector<std::int32_t> installCodes;
        std::vector<std::int32_t> registerCodes;
        int attempts;
        HotKey::Status status;
        std::vector<std::string> log;
    };
    const std::vector<Case> cases = {
        {"registers", {}, {}, 1, HotKey::Status::registered, {"install", "register"}},
        {"second retry does nothing", {}, {}, 2, HotKey::Status::registered, {"install", "register"}},
        {"install fails: register never asked", {-1}, {}, 1, HotKey::Status::failed, {"install", "remove"}},
        {"taken by another program", {}, {HotKey::alreadyTakenCode}, 1, HotKey::Status::conflict,
            {"install", "register", "remove"}},
        {"other register failure", {}, {-3}, 1, HotKey::Status::failed, {"install", "register", "remove"}},
        {"conflict, then free", {}, {HotKey::alreadyTakenCode, 0}, 2, HotKey::Status::registered,
            {"install", "register", "remove", "install", "register"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedBackend scripted{c.installCodes, c.registerCodes, {}, {}};
        HotKey hotKey(scripted.backend(), [] {});
        EXPECT_EQ(hotKey.status(), HotKey::Status::failed);
        for (int attempt = 0; attempt < c.attempts; ++attempt)
            hotKey.retry();
        EXPECT_EQ(hotKey.status(), c.status);
        EXPECT_EQ(scripted.log, c.log);
    }
}

TEST(HotKey, ActsOnlyWhileRegisteredAndAliveAndReleasesOnDestruction)
{
    ScriptedBackend scripted{{}, {HotKey::alreadyTakenCode}, {}, {}};
    int fired = 0;
    std::function<void()> handler;
    {
        HotKey hotKey(scripted.backend(), [&] { ++fired; });
        hotKey.retry();
        scripted.installedAction(); // a press reaching a handler left behind by the conflict
        EXPECT_EQ(fired, 0);
        hotKey.retry();
        handler = scripted.installedAction;
        handler();
        EXPECT_EQ(fired, 1);
        scripted.log.clear();
    }
    EXPECT_EQ(scripted.log, (std::vector<std::string>{"unregister", "remove"}));
    handler();
    EXPECT_EQ(fired, 1);
}

} // namespace
} // namespace tolvex
