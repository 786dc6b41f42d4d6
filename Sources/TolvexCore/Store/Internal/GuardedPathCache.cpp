#include "TolvexCore/Store/Internal/GuardedPathCache.h"

#include "TolvexCore/Files/LocalPathEncoding.h"
#include "TolvexCore/Files/ShareOut.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <functional>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvex {

namespace {

// A single name the guard would accept as a path component.
bool isPlainComponent(QStringView name)
{
    return !name.isEmpty() && name != u"." && name != u"..";
}

// The file-system bytes of a path, as encodeLocalPath gives them, into a
// buffer on the stack. False for what only the guard should judge: text that
// is not valid UTF-16 or does not fit.
template <std::size_t N>
bool encodeInto(QStringView text, char (&buffer)[N], std::size_t& size)
{
    size = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i].unicode(), text[i + 1].unicode());
            ++i;
        } else if (c >= 0xDC80 && c <= 0xDCFF) {
            // A byte that is not UTF-8, kept as a lone surrogate by the file layer.
            if (size + 1 >= N)
                return false;
            buffer[size++] = static_cast<char>(c - 0xDC00);
            continue;
        } else if (c >= 0xD800 && c < 0xE000)
            return false;
        if (c == 0 || size + 4 >= N)
            return false;
        if (c < 0x80) {
            buffer[size++] = static_cast<char>(c);
        } else if (c < 0x800) {
            buffer[size++] = static_cast<char>(0xC0 | (c >> 6));
            buffer[size++] = static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            buffer[size++] = static_cast<char>(0xE0 | (c >> 12));
            buffer[size++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            buffer[size++] = static_cast<char>(0x80 | (c & 0x3F));
        } else {
            buffer[size++] = static_cast<char>(0xF0 | (c >> 18));
            buffer[size++] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            buffer[size++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            buffer[size++] = static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    buffer[size] = '\0';
    return true;
}

// A path whose guard's answer lies in the look at its last component (once
// its folder passed): relative, its last component a plain name, no NUL
// (which would cut the path short at the system call).
bool isPlainPath(QStringView path, qsizetype slash)
{
    return slash > 0 && !path.startsWith(u'/') && isPlainComponent(path.mid(slash + 1)) && !path.contains(QChar(u'\0'));
}

// Fewer paths than this are looked at on the calling thread alone.
constexpr std::size_t parallelThreshold = 512;

} // namespace

GuardedPathCache::GuardedPathCache(const OwnedPaths& paths) : paths_(paths) {}

GuardedPathCache::~GuardedPathCache()
{
    if (topDescriptor_ >= 0)
        ::close(topDescriptor_);
    if (rootDescriptor_ >= 0)
        ::close(rootDescriptor_);
}

void GuardedPathCache::Listing::index()
{
    std::size_t size = 16;
    while (size < entries.size() * 2)
        size *= 2;
    buckets.assign(size, 0);
    const std::string_view all(names);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        std::size_t slot = std::hash<std::string_view>{}(all.substr(entries[i].offset, entries[i].size)) & (size - 1);
        while (buckets[slot] != 0)
            slot = (slot + 1) & (size - 1);
        buckets[slot] = static_cast<std::uint32_t>(i + 1);
    }
}

std::optional<GuardedPathCache::Look> GuardedPathCache::Listing::find(std::string_view name) const
{
    if (buckets.empty())
        return std::nullopt;
    const std::string_view all(names);
    const std::size_t mask = buckets.size() - 1;
    for (std::size_t slot = std::hash<std::string_view>{}(name) & mask; buckets[slot] != 0; slot = (slot + 1) & mask) {
        const Entry& entry = entries[buckets[slot] - 1];
        if (all.substr(entry.offset, entry.size) == name)
            return entry.look;
    }
    return std::nullopt;
}

bool GuardedPathCache::openRoot()
{
    if (rootDescriptor_ < 0) {
        // Only reached after the guard accepted a path, so the root is at its
        // anchor; the anchor has no link in it, and its last component is not
        // followed either.
        rootDescriptor_ = ::open(encodeLocalPath(paths_.anchor().toLocalFile()).constData(),
            O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    return rootDescriptor_ >= 0;
}

GuardedPathCache::Look GuardedPathCache::lookAt(QStringView relativePath)
{
    if (rootDescriptor_ < 0 && !openRoot())
        return Look::other;
    char path[PATH_MAX];
    std::size_t size = 0;
    if (!encodeInto(relativePath, path, size))
        return Look::other;
    struct stat info;
    if (::fstatat(rootDescriptor_, path, &info, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? Look::missing : Look::other;
    return S_ISLNK(info.st_mode) ? Look::other : Look::plain;
}

const GuardedPathCache::Listing* GuardedPathCache::listingOf(const QString& folder)
{
    auto listing = listings_.find(folder);
    if (listing == listings_.end()) {
        std::optional<Listing> entries;
        const int opened = rootDescriptor_ < 0 ? -1
            : ::openat(rootDescriptor_, encodeLocalPath(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (DIR* stream = opened >= 0 ? ::fdopendir(opened) : nullptr) {
            entries.emplace();
            while (const dirent* entry = ::readdir(stream)) {
                // Entries of unknown type are looked at one by one.
                if (entry->d_type == DT_UNKNOWN)
                    continue;
                const std::string_view entryName(entry->d_name);
                entries->entries.push_back({static_cast<std::uint32_t>(entries->names.size()),
                    static_cast<std::uint32_t>(entryName.size()), entry->d_type == DT_LNK ? Look::other : Look::plain});
                entries->names.append(entryName);
            }
            ::closedir(stream);
            entries->index();
        } else if (opened >= 0) {
            ::close(opened);
        }
        listing = listings_.emplace(folder, std::move(entries)).first;
    }
    return listing->second ? &*listing->second : nullptr;
}

GuardedPathCache::Look GuardedPathCache::lookAtChild(const QString& parent, QStringView name, const QString& relativePath)
{
    const Listing* listing = listingOf(parent);
    char encoded[NAME_MAX * 4 + 8];
    std::size_t size = 0;
    if (!listing || !encodeInto(name, encoded, size))
        return lookAt(relativePath);
    if (const std::optional<Look> found = listing->find(std::string_view(encoded, size)))
        return *found;
    return lookAt(relativePath); // missing, or of unknown type
}

bool GuardedPathCache::checkFolder(const QString& folder, bool remember)
{
    if (const auto known = folders_.constFind(folder); known != folders_.cend())
        return *known;
    const qsizetype slash = folder.lastIndexOf(u'/');
    const QStringView name = QStringView(folder).mid(slash + 1);
    // A top folder, or one below a folder that exists, is looked at itself;
    // below a missing folder nothing exists.
    const bool parentExists = slash < 0 || checkFolder(folder.left(slash), true);
    Look look = Look::missing;
    if (slash < 0) {
        paths_.url(folder); // checks the root and the folder itself
        look = lookAt(folder);
    } else if (parentExists) {
        look = isPlainComponent(name) ? lookAtChild(folder.left(slash), name, folder) : Look::other;
    } else if (!isPlainComponent(name)) {
        look = Look::other;
    }
    if (look == Look::other) {
        paths_.url(folder);
        look = lookAt(folder) == Look::plain ? Look::plain : Look::missing;
    }
    const bool exists = look == Look::plain;
    if (remember)
        folders_.insert(folder, exists);
    return exists;
}

void GuardedPathCache::check(const QString& relativePath)
{
    const qsizetype slash = relativePath.lastIndexOf(u'/');
    const QStringView name = QStringView(relativePath).mid(slash + 1);
    // A NUL would cut the path short at the system call: only the guard decides then.
    if (slash <= 0 || relativePath.startsWith(u'/') || !isPlainComponent(name) || relativePath.contains(QChar(u'\0'))) {
        paths_.url(relativePath);
        return;
    }
    const QStringView folder = QStringView(relativePath).left(slash);
    if (folder != lastFolder_) {
        QString folderText = folder.toString();
        lastFolderExists_ = checkFolder(folderText, false);
        // Remembered only once the folder passed.
        lastFolder_ = std::move(folderText);
    }
    // Below a missing folder nothing exists, so nothing can be a link.
    if (lastFolderExists_ && lookAt(relativePath) == Look::other)
        paths_.url(relativePath);
}

void GuardedPathCache::checkAll(const std::vector<const QString*>& relativePaths)
{
    // Each path whose folder exists needs one look at its last component
    // (a plain fstatat relative to the open root or top folder, touching
    // none of the cache's own state); its folder is answered by the cache.
    // Most paths lie in a plain entry of the top folder, which its listing
    // answers without building the folder's name, so when that listing is
    // known already (prepareTopFolder) those paths are settled first, on a
    // few threads at once, by their looks. The
    // rest go in order through the folders on this thread, up to the first
    // refusal, and have their looks afterwards.
    enum class Need : unsigned char { undecided, nothing, look, lookBelowTop, guard };
    std::vector<Need> needs(relativePaths.size(), Need::undecided);

    // Whether the path lies in a plain entry of the top folder; reads nothing but the listing.
    const auto isBelowTop = [this](QStringView path, qsizetype slash) {
        const QStringView folder = path.left(slash);
        if (!topListing_ || folder.size() <= topFolder_.size() || !folder.startsWith(topFolder_)
            || folder[topFolder_.size()] != u'/')
            return false;
        const QStringView name = folder.mid(topFolder_.size() + 1);
        char encoded[NAME_MAX * 4 + 8];
        std::size_t size = 0;
        return isPlainComponent(name) && !name.contains(u'/') && encodeInto(name, encoded, size)
            && topListing_->find(std::string_view(encoded, size)) == Look::plain;
    };
    const auto look = [&](std::size_t i) {
        const QStringView path = *relativePaths[i];
        bool plain = false;
        if (needs[i] == Need::lookBelowTop) {
            plain = lookBelowTop(path.mid(topFolder_.size() + 1));
        } else {
            char encoded[PATH_MAX];
            std::size_t size = 0;
            struct stat info;
            if (encodeInto(path, encoded, size))
                plain = ::fstatat(rootDescriptor_, encoded, &info, AT_SYMLINK_NOFOLLOW) == 0 ? !S_ISLNK(info.st_mode) : errno == ENOENT;
        }
        needs[i] = plain ? Need::nothing : Need::guard;
    };

    if (topListing_) {
        shareOut(relativePaths.size(), parallelThreshold, [&](std::size_t i) {
            const QStringView path = *relativePaths[i];
            const qsizetype slash = path.lastIndexOf(u'/');
            if (!isPlainPath(path, slash) || !isBelowTop(path, slash))
                return;
            needs[i] = Need::lookBelowTop;
            look(i);
        });
    }

    // The folders, in order and on this thread: they are few and mostly
    // answered by one listing.
    std::size_t checkedFolders = 0;
    std::exception_ptr folderRefusal;
    bool looksLeft = false;
    for (; checkedFolders < relativePaths.size(); ++checkedFolders) {
        if (needs[checkedFolders] != Need::undecided)
            continue;
        const QString& path = *relativePaths[checkedFolders];
        const qsizetype slash = path.lastIndexOf(u'/');
        if (!isPlainPath(path, slash)) {
            needs[checkedFolders] = Need::guard;
            continue;
        }
        looksLeft = true;
        if (isBelowTop(path, slash)) {
            needs[checkedFolders] = Need::lookBelowTop;
            continue;
        }
        const QStringView folder = QStringView(path).left(slash);
        try {
            if (folder != lastFolder_) {
                QString folderText = folder.toString();
                lastFolderExists_ = checkFolder(folderText, false);
                lastFolder_ = std::move(folderText);
                rememberTopFolder(lastFolder_);
            }
        } catch (...) {
            // Refused at this path: what comes before it is still looked at first.
            folderRefusal = std::current_exception();
            break;
        }
        needs[checkedFolders] = lastFolderExists_ ? Need::look : Need::nothing;
    }

    if (looksLeft) {
        if (!openRoot()) {
            for (std::size_t i = 0; i < checkedFolders; ++i) {
                if (needs[i] == Need::look || needs[i] == Need::lookBelowTop)
                    needs[i] = Need::guard;
            }
        }
        shareOut(checkedFolders, parallelThreshold, [&](std::size_t i) {
            if (needs[i] == Need::look || needs[i] == Need::lookBelowTop)
                look(i);
        });
    }

    for (std::size_t i = 0; i < checkedFolders; ++i) {
        if (needs[i] == Need::guard)
            paths_.url(*relativePaths[i]);
    }
    if (folderRefusal)
        std::rethrow_exception(folderRefusal);
}

void GuardedPathCache::prepareTopFolder(const QString& topFolder)
{
    try {
        if (topDescriptor_ >= 0 || topFolder.contains(u'/') || !checkFolder(topFolder, true) || !openRoot())
            return;
    } catch (...) {
        // The refusal is checkAll()'s to report, at its place among the paths.
        return;
    }
    if (adoptTopFolder(topFolder))
        topListing_ = listingOf(topFolder_);
}

bool GuardedPathCache::lookBelowTop(QStringView relative) const
{
    char path[PATH_MAX];
    std::size_t size = 0;
    struct stat info;
    if (!encodeInto(relative, path, size))
        return false;
    if (::fstatat(topDescriptor_, path, &info, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    return !S_ISLNK(info.st_mode);
}

void GuardedPathCache::rememberTopFolder(const QString& folder)
{
    const qsizetype slash = folder.indexOf(u'/');
    if (topDescriptor_ >= 0 || slash <= 0 || folder.indexOf(u'/', slash + 1) >= 0)
        return;
    const QString top = folder.left(slash);
    // Only a top folder the guard accepted and that was listed.
    const auto listing = listings_.find(top);
    if (listing == listings_.end() || !listing->second || !adoptTopFolder(top))
        return;
    topListing_ = &*listing->second;
}

bool GuardedPathCache::adoptTopFolder(const QString& top)
{
    if (topDescriptor_ >= 0 || rootDescriptor_ < 0)
        return false;
    const auto accepted = folders_.constFind(top);
    if (accepted == folders_.cend() || !*accepted)
        return false;
    topDescriptor_ = ::openat(rootDescriptor_, encodeLocalPath(top).constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (topDescriptor_ < 0)
        return false;
    topFolder_ = top;
    return true;
}

QUrl GuardedPathCache::url(const QString& relativePath)
{
    check(relativePath);
    // The root-based URL, as the guard returns it.
    return QUrl::fromLocalFile(OwnedPaths::standardized(paths_.root().toLocalFile() + u'/' + relativePath));
}

} // namespace tolvex
