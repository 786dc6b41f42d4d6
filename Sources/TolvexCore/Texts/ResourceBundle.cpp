#include "TolvexCore/Texts/ResourceBundle.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>

#include <exception>
#include <mutex>

namespace tolvex {

struct ResourceBundle::Cache {
    std::mutex mutex;
    // Null for a table that could not be read or parsed, so that it is not
    // tried again on every lookup.
    QHash<QString, std::shared_ptr<const StringTable>> tables;
};

ResourceBundle::ResourceBundle(QString path)
    : path_(std::move(path))
    , cache_(std::make_shared<Cache>())
{
}

QString ResourceBundle::languageFolderPath(const QString& languageCode) const
{
    return path_ + QLatin1Char('/') + languageCode + QLatin1Char('.') + languageFolderExtension();
}

QString ResourceBundle::tablePath(const QString& table) const
{
    return path_ + QLatin1Char('/') + table + QLatin1Char('.') + tableFileExtension();
}

std::optional<ResourceBundle> ResourceBundle::languageBundle(const QString& languageCode) const
{
    if (path_.isEmpty() || languageCode.isEmpty() || languageCode.contains(QLatin1Char('/')))
        return std::nullopt;
    const QString folder = languageFolderPath(languageCode);
    if (!QFileInfo(folder).isDir())
        return std::nullopt;
    return ResourceBundle(folder);
}

std::shared_ptr<const StringTable> ResourceBundle::stringTable(const QString& table) const
{
    if (path_.isEmpty() || table.isEmpty() || table.contains(QLatin1Char('/')))
        return nullptr;
    std::lock_guard lock(cache_->mutex);
    const auto cached = cache_->tables.constFind(table);
    if (cached != cache_->tables.constEnd())
        return *cached;
    std::shared_ptr<const StringTable> loaded;
    try {
        loaded = std::make_shared<const StringTable>(StringTable::load(tablePath(table)));
    } catch (const std::exception&) {
        // A missing, unreadable or malformed table has no texts; the localizer
        // then falls back to English or to the key, and the start-up check
        // reports the damage before any window shows.
    }
    cache_->tables.insert(table, loaded);
    return loaded;
}

std::optional<QString> ResourceBundle::localizedString(const QString& key, const QString& table) const
{
    const auto strings = stringTable(table);
    if (!strings)
        return std::nullopt;
    return strings->value(key);
}

QStringList ResourceBundle::coreBundleCandidates(const QString& executableDirectory)
{
    if (executableDirectory.isEmpty())
        return {};
    return {
        executableDirectory + QLatin1Char('/') + coreBundleName(),
        QDir::cleanPath(executableDirectory + QStringLiteral("/../share/tolvex/") + coreBundleName()),
    };
}

std::optional<ResourceBundle> ResourceBundle::locateCore(const QString& executableDirectory)
{
    for (const QString& candidate : coreBundleCandidates(executableDirectory)) {
        if (QFileInfo(candidate).isDir())
            return ResourceBundle(candidate);
    }
    return std::nullopt;
}

QString ResourceBundle::executableDirectory()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    // Qt answers only once the application object exists; the kernel's link
    // to the running image works before that.
    const QFileInfo image(QStringLiteral("/proc/self/exe"));
    const QString resolved = image.canonicalFilePath();
    return resolved.isEmpty() ? QString() : QFileInfo(resolved).absolutePath();
}

std::optional<ResourceBundle> ResourceBundle::core()
{
    static const std::optional<ResourceBundle> found = locateCore(executableDirectory());
    return found;
}

} // namespace tolvex
