#include "TolvexCore/Files/HeldFolders.h"

#include "TolvexCore/Files/PosixFile.h"

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <string_view>
#include <vector>

#include <fcntl.h>

namespace tolvex {

namespace {

struct Entry {
    std::uint64_t key;
    std::string path;
    std::shared_ptr<const PosixFile> folder;
};

struct Table {
    std::mutex mutex;
    std::vector<Entry> entries;
    std::uint64_t lastKey = 0;
};

Table& table()
{
    static Table instance;
    return instance;
}

// The part of `path` below `folder`, when it lies there: "" for the folder
// itself, else what follows the separator.
std::optional<std::string_view> below(std::string_view path, std::string_view folder)
{
    if (folder == "/")
        return path.empty() || path.front() != '/' ? std::nullopt : std::optional(path.substr(1));
    if (path.size() < folder.size() || path.compare(0, folder.size(), folder) != 0)
        return std::nullopt;
    if (path.size() == folder.size())
        return std::string_view();
    if (path[folder.size()] != '/')
        return std::nullopt;
    return path.substr(folder.size() + 1);
}

} // namespace

std::uint64_t HeldFolders::enter(const std::string& path, int descriptor)
{
    // A descriptor only for finding items (O_PATH): a description of its
    // own, so closing the claim's descriptor still ends the claim.
    PosixFile own = PosixFile::openAt(descriptor, ".", O_PATH | O_DIRECTORY);
    if (!own.isOpen())
        throwFileError(errno, "lock", path);
    auto folder = std::make_shared<const PosixFile>(std::move(own));
    Table& held = table();
    const std::lock_guard lock(held.mutex);
    const std::uint64_t key = ++held.lastKey;
    held.entries.push_back(Entry{key, path, std::move(folder)});
    return key;
}

void HeldFolders::withdraw(std::uint64_t key) noexcept
{
    std::shared_ptr<const PosixFile> closing;
    Table& held = table();
    {
        const std::lock_guard lock(held.mutex);
        for (auto entry = held.entries.begin(); entry != held.entries.end(); ++entry) {
            if (entry->key == key) {
                closing = std::move(entry->folder);
                held.entries.erase(entry);
                break;
            }
        }
    }
    // Closed (when no call still uses it) outside the table's lock.
}

std::optional<HeldFolders::Below> HeldFolders::find(const std::string& path)
{
    std::shared_ptr<const PosixFile> folder;
    std::string_view rest;
    {
        Table& held = table();
        const std::lock_guard lock(held.mutex);
        std::size_t deepest = 0;
        for (const Entry& entry : held.entries) {
            const std::optional<std::string_view> part = below(path, entry.path);
            // Later entries come later in the table: ">=" lets the later of
            // two claims at one path win.
            if (part && (!folder || entry.path.size() >= deepest)) {
                folder = entry.folder;
                rest = *part;
                deepest = entry.path.size();
            }
        }
    }
    if (!folder)
        return std::nullopt;

    std::string relative;
    for (std::size_t start = 0; start <= rest.size();) {
        const std::size_t end = std::min(rest.find('/', start), rest.size());
        const std::string_view component = rest.substr(start, end - start);
        start = end + 1;
        if (component.empty() || component == ".")
            continue;
        if (component == "..")
            return std::nullopt;
        if (!relative.empty())
            relative += '/';
        relative.append(component);
    }
    if (relative.empty())
        relative.push_back('.');
    return Below{std::move(folder), std::move(relative)};
}

} // namespace tolvex
