#include "TolvexCore/Startup/StarterWorkspaceBootstrap.h"

#include "TolvexCore/Content/ContentStore.h"
#include "TolvexCore/Content/OwnedPaths.h"
#include "TolvexCore/Files/PosixFile.h"
#include "TolvexCore/Files/SystemFileOperations.h"
#include "TolvexCore/Images/ImageAdmission.h"
#include "TolvexCore/Images/ImageSource.h"
#include "TolvexCore/Model/ClipboardPreference.h"
#include "TolvexCore/Model/DataRoot.h"
#include "TolvexCore/Model/JsonCoding.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Model/UuidText.h"
#include "TolvexCore/Startup/PathResolution.h"

#include <QBuffer>
#include <QFile>
#include <QPdfDocument>
#include <QSet>
#include <QStringDecoder>
#include <QUuid>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvex {

namespace {

const QString finderMetadataFileName = QStringLiteral(".DS_Store");

[[noreturn]] void throwErrno(int error)
{
    throw std::system_error(error, std::generic_category());
}

QString folderPath(const QUrl& url)
{
    if (!url.isLocalFile())
        throw StoreError::invalidPath();
    const QString path = PathResolution::standardized(url.toLocalFile());
    if (path.isEmpty() || !path.startsWith(u'/') || path == u"/")
        throw StoreError::invalidPath();
    return path;
}

// Reads one file of a workspace folder. Only a regular file is read: a named
// pipe or a device in a starter would otherwise block or flood the start.
// `limit` refuses an oversized file before its bytes are loaded.
QByteArray readOwnedFile(const OwnedPaths& paths, const QString& relativePath, std::int64_t limit, StoreError tooLarge)
{
    const FileOperationsRef files = SystemFileOperations::shared();
    const QUrl url = paths.url(relativePath);
    const FileInfo info = files->inspect(url);
    if (!info.isRegularFile)
        throw StoreError::invalidPath();
    if (limit >= 0 && info.byteCount > limit)
        throw tooLarge;
    QByteArray bytes = files->read(url);
    if (limit >= 0 && bytes.size() > limit)
        throw tooLarge;
    return bytes;
}

bool isUtf8Text(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return false;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    return !decoder.hasError() && !text.isEmpty();
}

bool isReadablePdf(const QByteArray& bytes)
{
    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    if (!buffer.open(QIODevice::ReadOnly))
        return false;
    QPdfDocument document;
    // A random-access device with every byte present loads at once.
    document.load(&buffer);
    const bool readable = document.status() == QPdfDocument::Status::Ready && document.pageCount() >= 1;
    document.close();
    return readable;
}

void checkSnapshotRules(const WorkspaceSnapshot& snapshot)
{
    if (snapshot.schemaVersion != 1 || snapshot.generation != 0 || snapshot.materials.size() != 3)
        throw StoreError::invalidSnapshot();
    QSet<QUuid> ids;
    QSet<MaterialKind> kinds;
    QSet<std::int64_t> orders;
    for (const MaterialRecord& material : snapshot.materials) {
        ids.insert(material.id);
        kinds.insert(material.kind);
        orders.insert(material.order);
    }
    if (ids.size() != 3 || kinds != QSet<MaterialKind>{MaterialKind::text, MaterialKind::image, MaterialKind::pdf}
        || orders != QSet<std::int64_t>{0, 1, 2})
        throw StoreError::invalidSnapshot();
    if (snapshot.matters.size() != 1 || snapshot.matters.front().id != MatterGroup::ungroupedID()
        || snapshot.selectedMatterID != MatterGroup::ungroupedID() || snapshot.privacyHidden
        || snapshot.captureFolder.has_value())
        throw StoreError::invalidSnapshot();
}

void checkMaterialRules(const MaterialRecord& material)
{
    if (material.status != MaterialStatus::hanging || material.pinned
        || material.matterID != MatterGroup::ungroupedID() || material.source.filePath.has_value()
        || material.source.fileBookmark.has_value() || material.versions.size() != 1)
        throw StoreError::invalidSnapshot();
    const MaterialVersion& version = material.versions.front();
    if (version.id != material.activeVersionID || version.id != material.originalVersionID
        || version.kind != VersionKind::original)
        throw StoreError::invalidSnapshot();
    const QString folder = DataRoot::materialFolder(material.id) + u'/';
    const QString fileName = version.relativePath.mid(version.relativePath.lastIndexOf(u'/') + 1);
    if (!version.relativePath.startsWith(folder) || !fileName.startsWith(uuidText(version.id) + u'.'))
        throw StoreError::invalidSnapshot();
}

void checkPayload(const MaterialRecord& material, const QByteArray& bytes)
{
    const MaterialVersion& version = material.versions.front();
    if (bytes.size() > StarterWorkspaceBootstrap::maxPayloadBytes || bytes.size() != version.byteCount
        || ContentStore::digest(bytes) != version.sha256)
        throw StoreError::recoveryRequired();
    switch (material.kind) {
    case MaterialKind::image: {
        ImageAdmission::validate(bytes);
        const std::optional<ImageSource> source = ImageSource::create(bytes);
        if (!source || source->decodeImage(0).isNull())
            throw StoreError::invalidSource();
        return;
    }
    case MaterialKind::pdf:
        if (!isReadablePdf(bytes))
            throw StoreError::invalidSource();
        return;
    case MaterialKind::text:
        if (material.source.origin != ImportOrigin::note || !isUtf8Text(bytes))
            throw StoreError::invalidSnapshot();
        return;
    case MaterialKind::file:
        break;
    }
    throw StoreError::invalidSnapshot();
}

// Every regular file below `root`, as "/"-separated relative paths, except
// ".DS_Store" files. A symbolic link or a special file anywhere is refused.
void listFiles(const std::filesystem::path& folder, const QString& relativeFolder, QSet<QString>& files)
{
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, error);
    if (error)
        throw std::system_error(error);
    for (const std::filesystem::directory_iterator end; entries != end; entries.increment(error)) {
        const std::filesystem::path path = entries->path();
        const QString name = QFile::decodeName(QByteArray::fromStdString(path.filename().string()));
        const QString relative = relativeFolder.isEmpty() ? name : relativeFolder + u'/' + name;
        const std::filesystem::file_status info = std::filesystem::symlink_status(path, error);
        if (error)
            throw std::system_error(error);
        if (std::filesystem::is_symlink(info))
            throw StoreError::invalidPath();
        if (std::filesystem::is_directory(info)) {
            listFiles(path, relative, files);
        } else if (!std::filesystem::is_regular_file(info)) {
            throw StoreError::invalidPath();
        } else if (name != finderMetadataFileName) {
            files.insert(relative);
        }
    }
    if (error)
        throw std::system_error(error);
}

std::filesystem::path nativePath(const QString& path)
{
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

} // namespace

bool StarterWorkspaceBootstrap::isAnchored(const QUrl& folder)
{
    return OwnedPaths(QUrl::fromLocalFile(folderPath(folder))).rootIsAtAnchor();
}

WorkspaceSnapshot StarterWorkspaceBootstrap::validate(const QUrl& starter)
{
    if (!isAnchored(starter))
        throw StoreError::invalidPath();
    const QString root = folderPath(starter);
    const OwnedPaths paths(QUrl::fromLocalFile(root));

    const WorkspaceSnapshot snapshot
        = Json::decode<WorkspaceSnapshot>(readOwnedFile(paths, DataRoot::stateFile(), -1, StoreError::invalidSnapshot()));
    checkSnapshotRules(snapshot);

    const ClipboardPreference clipboard = Json::decode<ClipboardPreference>(
        readOwnedFile(paths, DataRoot::clipboardSettingsFile(), maxClipboardSettingsBytes, StoreError::invalidSnapshot()));
    if (clipboard.version != ClipboardPreference::currentVersion || clipboard.enabled || clipboard.includeExisting)
        throw StoreError::invalidSnapshot();

    QSet<QString> expectedFiles{DataRoot::stateFile(), DataRoot::clipboardSettingsFile()};
    for (const MaterialRecord& material : snapshot.materials) {
        checkMaterialRules(material);
        const QString& relativePath = material.versions.front().relativePath;
        QByteArray payload;
        try {
            payload = readOwnedFile(paths, relativePath, maxPayloadBytes, StoreError::recoveryRequired());
        } catch (const std::system_error& error) {
            // A listed payload that is not there: the starter's files differ
            // from its records, like an extra file.
            if (error.code() == std::errc::no_such_file_or_directory)
                throw StoreError::invalidSnapshot();
            throw;
        }
        checkPayload(material, payload);
        expectedFiles.insert(relativePath);
    }

    QSet<QString> foundFiles;
    listFiles(nativePath(root), QString(), foundFiles);
    if (foundFiles != expectedFiles)
        throw StoreError::invalidSnapshot();
    return snapshot;
}

bool StarterWorkspaceBootstrap::installIfAbsent(const QUrl& starter, const QUrl& dataRoot)
{
    if (!isAnchored(dataRoot))
        throw StoreError::invalidPath();
    const QString rootPath = folderPath(dataRoot);
    std::error_code lookError;
    const std::filesystem::file_status existing = std::filesystem::symlink_status(nativePath(rootPath), lookError);
    if (!lookError)
        return false;
    if (existing.type() != std::filesystem::file_type::not_found)
        throw std::system_error(lookError);

    const WorkspaceSnapshot snapshot = validate(starter);

    const FileOperationsRef files = SystemFileOperations::shared();
    const QString parentPath = PathResolution::deletingLastComponent(rootPath);
    files->createDirectory(QUrl::fromLocalFile(parentPath));
    if (!isAnchored(dataRoot))
        throw StoreError::invalidPath();

    const QString stagingPath = PathResolution::appending(
        parentPath, QString::fromLatin1(stagingPrefix) + uuidText(QUuid::createUuid()));
    // The workspace holds private material: only its owner may enter.
    if (::mkdir(QFile::encodeName(stagingPath).constData(), 0700) != 0)
        throwErrno(errno);
    const QUrl stagingUrl = QUrl::fromLocalFile(stagingPath);

    const OwnedPaths source(QUrl::fromLocalFile(folderPath(starter)));
    const OwnedPaths destination(stagingUrl);
    QStringList copyList{DataRoot::stateFile(), DataRoot::clipboardSettingsFile()};
    for (const MaterialRecord& material : snapshot.materials) {
        for (const MaterialVersion& version : material.versions)
            copyList.append(version.relativePath);
    }
    for (const QString& relativePath : copyList) {
        const qsizetype slash = relativePath.lastIndexOf(u'/');
        if (slash > 0)
            files->createDirectory(destination.url(relativePath.left(slash)));
        files->copy(source.url(relativePath), destination.url(relativePath));
    }

    validate(stagingUrl);
    PosixFile::syncTree(QFile::encodeName(stagingPath).toStdString());
    if (publish(stagingUrl, dataRoot))
        return true;
    // Another start published first: its copy is the data root, and this
    // one's would lie in the user's folder for ever.
    std::error_code removeError;
    std::filesystem::remove_all(nativePath(stagingPath), removeError);
    return false;
}

bool StarterWorkspaceBootstrap::publish(const QUrl& staging, const QUrl& dataRoot)
{
    const QByteArray from = QFile::encodeName(folderPath(staging));
    const QByteArray to = QFile::encodeName(folderPath(dataRoot));
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0) {
        // The new name must survive a crash too.
        const QByteArray parent = QFile::encodeName(PathResolution::deletingLastComponent(folderPath(dataRoot)));
        const int descriptor = ::open(parent.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (descriptor >= 0) {
            ::fsync(descriptor);
            ::close(descriptor);
        }
        return true;
    }
    if (errno == EEXIST)
        return false;
    throwErrno(errno);
}

} // namespace tolvex
