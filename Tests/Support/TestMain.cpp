// The shared main of every test executable: each process gets a home folder
// of its own, so that nothing a test does (settings, the Trash, caches)
// reaches the real account, and an application object for Qt's services.
#include "Support/TestDesktopGuard.h"

#include <QApplication>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string makeIsolatedHome()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "tolvex-test-home-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        std::abort();
    const std::filesystem::path home = pattern;
    ::setenv("HOME", home.c_str(), 1);
    // XDG_DATA_HOME is left unset on purpose: the Trash must work from HOME
    // alone, on an account whose ~/.local/share does not exist yet.
    ::unsetenv("XDG_DATA_HOME");
    ::setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (home / ".cache").c_str(), 1);
    ::setenv("XDG_STATE_HOME", (home / ".local/state").c_str(), 1);
    // The instance socket's folder: private, as a session's runtime folder is.
    const std::filesystem::path runtime = home / "runtime";
    if (::mkdir(runtime.c_str(), 0700) != 0)
        std::abort();
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    if (!::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return pattern;
}

// Tests labelled x11 run on the test desktop (scripts/test-desktop.sh) that
// TOLVEX_TEST_DESKTOP names. Without it they fail rather than skip.
bool joinTestDesktop()
{
    const char* folder = ::getenv("TOLVEX_TEST_DESKTOP");
    if (!folder)
        return false;
    QFile env(QString::fromLocal8Bit(folder) + QStringLiteral("/env"));
    if (!env.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "The test desktop in %s is not running\n", folder);
        std::exit(1);
    }
    for (const QByteArray& line : env.readAll().split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (equals > 0)
            ::setenv(line.left(equals).constData(), line.mid(equals + 1).constData(), 1);
    }
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string home = makeIsolatedHome();
    const bool onTestDesktop = joinTestDesktop();
    ::testing::InitGoogleTest(&argc, argv);
    int result = 0;
    {
        QApplication app(argc, argv);
        // Owned by GoogleTest once appended.
        auto* guard = onTestDesktop ? new tolvex::testing::TestDesktopGuard : nullptr;
        if (guard)
            ::testing::UnitTest::GetInstance()->listeners().Append(guard);
        result = RUN_ALL_TESTS();
        if (guard && guard->leftInUse())
            result = 1;
    }
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return result;
}
