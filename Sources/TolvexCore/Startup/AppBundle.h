#pragma once

#include <QString>

#include <optional>

namespace tolvex {

// Where the program lies, as the start-up checks see it. An installed program
// lies in "<prefix>/bin" next to "<prefix>/share/tolvex", which holds its
// resources (the string tables' bundle and the starter workspace); that is an
// application bundle whose own folder is the prefix. Any other executable is
// bare (a build-tree program during development): its own folder is the
// executable's folder, and it has no resource folder.
class AppBundle {
public:
    // The resource folder below the prefix of an installed program.
    static constexpr const char* resourceSubpath = "share/tolvex";

    // The running program, from the kernel's record of its executable
    // (symbolic links already resolved).
    static AppBundle main();
    // A program whose executable lies in `executableFolder`; the layout is
    // looked at once, now.
    static AppBundle forExecutableFolder(const QString& executableFolder);

    // Standardized, without a trailing slash.
    const QString& executableFolder() const { return executableFolder_; }
    // The prefix for an installed program, the executable's folder otherwise.
    const QString& folder() const { return folder_; }
    // The program is installed: its folder is "bin" and the folder above
    // holds "share/tolvex" (as a folder, links followed).
    bool isApplication() const { return isApplication_; }
    // "<prefix>/share/tolvex" as written (links not resolved) when installed.
    std::optional<QString> resourceFolder() const;

private:
    QString executableFolder_;
    QString folder_;
    bool isApplication_ = false;
};

} // namespace tolvex
