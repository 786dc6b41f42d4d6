#pragma once

#include "TolvexCore/Content/OwnedPaths.h"

#include <QHash>
#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tolvex {

struct QHashFunctor {
    std::size_t operator()(const QString& text) const { return qHash(text); }
};

// Answers the path guard's question for many paths of one snapshot at once.
// The guard resolves every component of every path from the file system's
// root; here each folder is resolved once, and a path below an accepted
// folder only has its own last component looked at, without following a
// link: a file with one lstat relative to the data root, the many material
// folders of "Materials" from one listing of it. Whenever a look is not a
// plain answer (a link, an unexpected error, an odd name), the path goes to
// the guard itself, so the answer is always the guard's.
//
// Use one cache for one pass (one validation, one walk of the budget): the
// folders it accepted are not looked at again, so it must not outlive the
// moment it describes.
class GuardedPathCache {
public:
    explicit GuardedPathCache(const OwnedPaths& paths);
    ~GuardedPathCache();

    GuardedPathCache(const GuardedPathCache&) = delete;
    GuardedPathCache& operator=(const GuardedPathCache&) = delete;

    // Throws what OwnedPaths::url would throw for the path, and returns
    // the URL it would return.
    QUrl url(const QString& relativePath);
    // The same check without making the URL, for passes that only validate.
    void check(const QString& relativePath);
    // check() for each path in order, stopping at the first refusal. The
    // last components are looked at on a few threads at once; the answer is
    // still the guard's for the first path it refuses.
    void checkAll(const std::vector<const QString*>& relativePaths);

    // Does ahead what checkAll() does at the first path below `topFolder` (a
    // folder of the data root itself): the guard's look at the folder, and
    // one listing of it, the longer step, which the caller may leave to a
    // thread of its own while it prepares the paths (touching nothing else
    // of this cache meanwhile). Neither answers nor throws a refusal: that
    // comes from checkAll(), at the path it belongs to.
    void prepareTopFolder(const QString& topFolder);

private:
    enum class Look : unsigned char { missing, plain, other };
    // The entries of one folder, hashed by name for lookups without allocating.
    struct Listing {
        std::string names;
        struct Entry {
            std::uint32_t offset;
            std::uint32_t size;
            Look look;
        };
        std::vector<Entry> entries;
        // Open addressing over `entries`: each bucket holds an entry's index + 1, or 0.
        std::vector<std::uint32_t> buckets;
        void index();
        std::optional<Look> find(std::string_view name) const;
    };

    // Whether the accepted folder exists (a missing folder holds nothing).
    // Folders above the last one asked for are remembered.
    bool checkFolder(const QString& folder, bool remember);
    // The item at a path below the data root, without following a link at its end.
    Look lookAt(QStringView relativePath);
    // Whether the item at a path below the open top folder, its end not
    // followed, is missing or no link (else the guard must judge it).
    bool lookBelowTop(QStringView relative) const;
    // The data root, opened once the guard accepted a path; false when it cannot be.
    bool openRoot();
    // Takes the top folder of an accepted folder one level below it as the
    // one most paths go through.
    void rememberTopFolder(const QString& folder);
    // Opens a top folder the guard accepted as the one most paths go through.
    bool adoptTopFolder(const QString& top);
    // A folder inside an accepted folder: read from one listing of that
    // folder, taken the first time one of its folders is asked for.
    Look lookAtChild(const QString& parent, QStringView name, const QString& relativePath);
    // The listing of an accepted folder, taken once; null when it cannot be listed.
    const Listing* listingOf(const QString& folder);

    const OwnedPaths& paths_;
    // The data root, opened once the guard has accepted it; -1 before.
    int rootDescriptor_ = -1;
    QHash<QString, bool> folders_;
    // The entries of listed folders, by name; absent for a folder that could not be listed.
    // Node-based, so that a listing stays where it is while others are added.
    std::unordered_map<QString, std::optional<Listing>, QHashFunctor> listings_;
    // The top folder whose entries most stored paths name ("Materials"),
    // opened for looks below it.
    QString topFolder_;
    const Listing* topListing_ = nullptr;
    int topDescriptor_ = -1;
    // The folder of the last path: the versions of one material share it.
    QString lastFolder_;
    bool lastFolderExists_ = false;
};

} // namespace tolvex
