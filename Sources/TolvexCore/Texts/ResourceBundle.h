#pragma once

#include "TolvexCore/Texts/StringTable.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace tolvex {

// A folder on disk used as a bundle of resources: string tables named
// "<table>.strings" directly inside it, and one language folder "<code>.lproj"
// per language, itself a bundle of the same kind.
//
// A bundle is read-only once made and may be used from any thread. Its string
// tables are read and parsed on first use and kept for the life of the bundle
// (copies of a bundle share them); a table that is missing, unreadable or
// malformed counts as empty, so lookups in it find nothing.
class ResourceBundle {
public:
    // The core library's own bundle, and the string table the localizer reads.
    static QString coreBundleName() { return QStringLiteral("Tolvex_TolvexCore.bundle"); }
    static QString defaultTableName() { return QStringLiteral("Localizable"); }
    static QString languageFolderExtension() { return QStringLiteral("lproj"); }
    static QString tableFileExtension() { return QStringLiteral("strings"); }

    explicit ResourceBundle(QString path);

    const QString& path() const { return path_; }

    // "<path>/<code>.lproj", whether or not it exists.
    QString languageFolderPath(const QString& languageCode) const;
    // "<path>/<table>.strings", whether or not it exists.
    QString tablePath(const QString& table = defaultTableName()) const;

    // The language folder opened as a bundle, when it is a folder. A code that
    // is empty or holds "/" names no folder.
    std::optional<ResourceBundle> languageBundle(const QString& languageCode) const;

    // The text of `key` in this folder's own table (not in its language
    // folders), or nothing when the table or the key is missing.
    std::optional<QString> localizedString(const QString& key, const QString& table = defaultTableName()) const;

    // The parsed table, or null when it is missing, unreadable or malformed.
    std::shared_ptr<const StringTable> stringTable(const QString& table = defaultTableName()) const;

    // The core bundle as a build-tree or installed executable finds it,
    // looked up once per process (see coreBundleCandidates).
    static std::optional<ResourceBundle> core();

    // Where the core bundle may lie for an executable in `executableDirectory`,
    // in the order they are tried:
    //  1. "<exe dir>/Tolvex_TolvexCore.bundle": a build-tree executable (and
    //     the tests), beside which the build stages the bundle;
    //  2. "<exe dir>/../share/tolvex/Tolvex_TolvexCore.bundle": the installed
    //     layout, with the executable in "<prefix>/bin".
    static QStringList coreBundleCandidates(const QString& executableDirectory);
    // The first candidate that is a folder; not cached.
    static std::optional<ResourceBundle> locateCore(const QString& executableDirectory);
    // The folder of the running executable (also before the application
    // object exists).
    static QString executableDirectory();

private:
    struct Cache;

    QString path_;
    std::shared_ptr<Cache> cache_;
};

} // namespace tolvex
