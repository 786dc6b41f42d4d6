#include "TolvexCore/Store/Internal/GuardedPathCache.h"

#include "TolvexCore/Files/LocalPathEncoding.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
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

std::optional<GuardedPathCache::Look> GuardedPathCache::Listing::find(std::string_view name) const
{
    const auto found = std::lower_bound(entries.begin(), entries.end(), name, [this](const Entry& entry, std::string_view key) {
        return std::string_view(names).substr(entry.offset, entry.size) < key;
    });
    if (found == entries.end() || std::string_view(names).substr(found->offset, found->size) != name)
        return std::nullopt;
    return found->look;
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

GuardedPathCache::Look GuardedPathCache::lookAtChild(const QString& parent, QStringView name, const QString& relativePath)
{
    auto listing = listings_.find(parent);
    if (listing == listings_.end()) {
        std::optional<Listing> entries;
        const int folder = rootDescriptor_ < 0 ? -1
            : ::openat(rootDescriptor_, encodeLocalPath(parent).constData(),
                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (DIR* stream = folder >= 0 ? ::fdopendir(folder) : nullptr) {
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
            const std::string_view names(entries->names);
            std::sort(entries->entries.begin(), entries->entries.end(), [names](const auto& a, const auto& b) {
                return names.substr(a.offset, a.size) < names.substr(b.offset, b.size);
            });
        } else if (folder >= 0) {
            ::close(folder);
        }
        listing = listings_.emplace(parent, std::move(entries)).first;
    }
    char encoded[NAME_MAX * 4 + 8];
    std::size_t size = 0;
    if (!listing->second || !encodeInto(name, encoded, size))
        return lookAt(relativePath);
    if (const std::optional<Look> found = listing->second->find(std::string_view(encoded, size)))
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
    // First the folders, in order and on this thread: they are few and mostly
    // answered by one listing. Each path whose folder exists then needs one
    // look at its last component; the rest are settled here.
    enum class Need : unsigned char { nothing, look, lookBelowTop, guard };
    std::vector<Need> needs(relativePaths.size(), Need::nothing);
    std::size_t checkedFolders = 0;
    std::exception_ptr folderRefusal;
    for (; checkedFolders < relativePaths.size(); ++checkedFolders) {
        const QString& path = *relativePaths[checkedFolders];
        const qsizetype slash = path.lastIndexOf(u'/');
        if (slash <= 0 || path.startsWith(u'/') || !isPlainComponent(QStringView(path).mid(slash + 1))
            || path.contains(QChar(u'\0'))) {
            needs[checkedFolders] = Need::guard;
            continue;
        }
        const QStringView folder = QStringView(path).left(slash);
        // Most paths lie in a plain entry of the top folder: its listing
        // answers without building the folder's name.
        if (topListing_ && folder.size() > topFolder_.size() && folder.startsWith(topFolder_)
            && folder[topFolder_.size()] == u'/') {
            const QStringView name = folder.mid(topFolder_.size() + 1);
            char encoded[NAME_MAX * 4 + 8];
            std::size_t size = 0;
            if (isPlainComponent(name) && !name.contains(u'/') && encodeInto(name, encoded, size)
                && topListing_->find(std::string_view(encoded, size)) == Look::plain) {
                needs[checkedFolders] = Need::lookBelowTop;
                continue;
            }
        }
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

    if (checkedFolders > 0 && !openRoot()) {
        for (std::size_t i = 0; i < checkedFolders; ++i) {
            if (needs[i] == Need::look || needs[i] == Need::lookBelowTop)
                needs[i] = Need::guard;
        }
    }
    // The looks: plain fstatat calls relative to the open root, shared out in
    // small batches; nothing in them touches the cache's own state.
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        constexpr std::size_t batch = 64;
        for (std::size_t start = next.fetch_add(batch); start < checkedFolders; start = next.fetch_add(batch)) {
            const std::size_t stop = std::min(start + batch, checkedFolders);
            for (std::size_t i = start; i < stop; ++i) {
                if (needs[i] != Need::look && needs[i] != Need::lookBelowTop)
                    continue;
                const bool belowTop = needs[i] == Need::lookBelowTop;
                const QStringView relative =
                    belowTop ? QStringView(*relativePaths[i]).mid(topFolder_.size() + 1) : QStringView(*relativePaths[i]);
                char path[PATH_MAX];
                std::size_t size = 0;
                struct stat info;
                if (!encodeInto(relative, path, size))
                    needs[i] = Need::guard;
                else if (::fstatat(belowTop ? topDescriptor_ : rootDescriptor_, path, &info, AT_SYMLINK_NOFOLLOW) != 0)
                    needs[i] = errno == ENOENT ? Need::nothing : Need::guard;
                else
                    needs[i] = S_ISLNK(info.st_mode) ? Need::guard : Need::nothing;
            }
        }
    };
    if (checkedFolders < parallelThreshold) {
        work();
    } else {
        const unsigned helpers = std::min(3u, std::max(1u, std::thread::hardware_concurrency()) - 1);
        std::vector<std::jthread> threads;
        threads.reserve(helpers);
        try {
            for (unsigned i = 0; i < helpers; ++i)
                threads.emplace_back(work);
        } catch (const std::system_error&) {
            // No more threads to be had: those running and this one finish the work.
        }
        work();
    }

    for (std::size_t i = 0; i < checkedFolders; ++i) {
        if (needs[i] == Need::guard)
            paths_.url(*relativePaths[i]);
    }
    if (folderRefusal)
        std::rethrow_exception(folderRefusal);
}

void GuardedPathCache::rememberTopFolder(const QString& folder)
{
    const qsizetype slash = folder.indexOf(u'/');
    if (topListing_ || slash <= 0 || folder.indexOf(u'/', slash + 1) >= 0 || rootDescriptor_ < 0)
        return;
    const QString top = folder.left(slash);
    // Only a top folder the guard accepted and that was listed.
    const auto accepted = folders_.constFind(top);
    const auto listing = listings_.find(top);
    if (accepted == folders_.cend() || !*accepted || listing == listings_.end() || !listing->second)
        return;
    topDescriptor_ = ::openat(rootDescriptor_, encodeLocalPath(top).constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (topDescriptor_ < 0)
        return;
    topFolder_ = top;
    topListing_ = &*listing->second;
}

QUrl GuardedPathCache::url(const QString& relativePath)
{
    check(relativePath);
    // The root-based URL, as the guard returns it.
    return QUrl::fromLocalFile(OwnedPaths::standardized(paths_.root().toLocalFile() + u'/' + relativePath));
}

} // namespace tolvex
