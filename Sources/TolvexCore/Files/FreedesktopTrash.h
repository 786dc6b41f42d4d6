#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include <sys/types.h>

namespace tolvex {

// Moving items into the user's Trash in the freedesktop.org Trash layout that
// desktop file managers share, so that they list and restore what we trash:
// - an item on the same volume as the home trash goes to that trash
//   ($XDG_DATA_HOME/Trash, else ~/.local/share/Trash), which is created with
//   its "files" and "info" folders when missing, also on an account whose
//   ~/.local/share does not exist yet;
// - an item on another volume goes to the trash on that volume's top folder:
//   $topdir/.Trash/$uid when an administrator prepared $topdir/.Trash (a real
//   folder with the sticky bit), else $topdir/.Trash-$uid.
// The ".trashinfo" record is written exclusively before the item is renamed
// (never replacing anything) into "files"; a failed rename takes the record
// back. Nothing is ever copied across volumes.
// Stateless apart from the two values it is built with; safe from any thread.
class FreedesktopTrash {
public:
    // One trash folder, holding "files" and "info".
    struct Location {
        std::string directory;
        // Empty for the home trash, whose records hold absolute paths; else the
        // volume's top folder, to which its records' paths are relative.
        std::string topDirectory;
    };

    FreedesktopTrash(std::string homeTrashDirectory, uid_t uid);
    // The current user's trash as the environment names it. Throws ENOENT when
    // neither XDG_DATA_HOME nor a home folder is known.
    static FreedesktopTrash forCurrentUser();

    // Moves the item at an absolute path (a file, a folder or a link, which is
    // not followed) into the trash of its volume; returns its path in "files".
    std::string trash(const std::string& path) const;
    // The same for the item `name` in the open `folder` (O_PATH will do),
    // wherever that folder now lies; `path` names the item in errors.
    std::string trash(int folder, const std::string& name, const std::string& path) const;

    const std::string& homeTrashDirectory() const { return homeTrashDirectory_; }

    // The home trash, created with its folders when missing.
    Location homeLocation() const;
    // The trash of this user on a volume's top folder, created when missing.
    Location topDirectoryLocation(const std::string& topDirectory) const;

    // Writes the record and renames the item `name` in the open `folder`
    // into `trash`; `path` names the item in errors, and `originalPath` is
    // its absolute path with its folder's links resolved.
    static std::string moveInto(int folder, const std::string& name, const std::string& path,
        const std::string& originalPath, const Location& trash);

    // The mount point of the volume that holds an absolute path without links.
    static std::string mountTopDirectory(const std::string& realPath);

    // The text of a ".trashinfo" record.
    static std::string infoText(const std::string& originalPath, const Location& trash, std::time_t deletionTime);
    // A path with every byte but unreserved characters and "/" percent-encoded.
    static std::string percentEncoded(std::string_view path);

private:
    std::string homeTrashDirectory_;
    uid_t uid_;
};

} // namespace tolvex
