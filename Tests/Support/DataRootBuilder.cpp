#include "Support/DataRootBuilder.h"

#include "TolvexCore/Content/ContentStore.h"
#include "TolvexCore/Model/JsonCoding.h"
#include "TolvexCore/Model/UuidText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <filesystem>
#include <stdexcept>

namespace tolvex::testing {

namespace {

void writeWhole(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write fixture file " + path.toStdString());
}

} // namespace

DataRootBuilder::DataRootBuilder(const QString& rootPath) : rootPath_(QDir::cleanPath(rootPath))
{
    for (const char* folder : {"Materials", "Drafts", "Transactions", "Exports"})
        QDir().mkpath(path(QString::fromLatin1(folder)));
}

QUrl DataRootBuilder::rootURL() const
{
    return QUrl::fromLocalFile(rootPath_);
}

QString DataRootBuilder::path(const QString& relativePath) const
{
    return rootPath_ + u'/' + relativePath;
}

QUrl DataRootBuilder::url(const QString& relativePath) const
{
    return QUrl::fromLocalFile(path(relativePath));
}

QString DataRootBuilder::payloadPath(const QUuid& materialID, const QUuid& versionID, const QString& extension)
{
    return QStringLiteral("Materials/") + uuidText(materialID) + u'/' + uuidText(versionID) + u'.' + extension;
}

QString DataRootBuilder::digest(const QByteArray& bytes)
{
    return ContentStore::digest(bytes);
}

QUuid DataRootBuilder::matterOrDefault(const QUuid& matterID) const
{
    return matterID.isNull() ? MatterGroup::ungroupedID() : matterID;
}

MaterialRecord& DataRootBuilder::addMaterial(const QByteArray& payload, MaterialStatus status,
    const QString& extension, const QUuid& matterID, ImportOrigin origin)
{
    MaterialRecord record;
    record.id = QUuid::createUuid();
    record.kind = extension == u"txt" ? MaterialKind::text : MaterialKind::file;
    record.matterID = matterOrDefault(matterID);
    record.status = status;
    record.pinned = false;
    std::int64_t largest = -1;
    for (const MaterialRecord& other : snapshot_.materials) {
        if (other.matterID == record.matterID)
            largest = std::max(largest, other.order);
    }
    record.order = largest + 1;
    record.title = QStringLiteral("Material %1").arg(snapshot_.materials.size() + 1);
    record.createdAt = Date::now();
    record.source.origin = origin;
    record.source.isManuallyRegistered = false;

    MaterialVersion version;
    version.id = QUuid::createUuid();
    version.relativePath = payloadPath(record.id, version.id, extension);
    version.sha256 = digest(payload);
    version.byteCount = payload.size();
    version.kind = VersionKind::original;
    version.createdAt = record.createdAt;
    writeFile(version.relativePath, payload);

    record.versions = {version};
    record.originalVersionID = version.id;
    record.activeVersionID = version.id;
    snapshot_.materials.append(record);
    return snapshot_.materials.last();
}

MaterialVersion DataRootBuilder::addVersion(const QUuid& materialID, const QByteArray& payload, VersionKind kind)
{
    MaterialRecord& record = material(materialID);
    MaterialVersion version;
    version.id = QUuid::createUuid();
    const QString extension = QFileInfo(record.versions.first().relativePath).suffix();
    version.relativePath = payloadPath(record.id, version.id, extension);
    version.sha256 = digest(payload);
    version.byteCount = payload.size();
    version.kind = kind;
    version.createdAt = Date::now();
    writeFile(version.relativePath, payload);
    record.versions.append(version);
    record.activeVersionID = version.id;
    return version;
}

MatterGroup DataRootBuilder::addMatter(const QString& name)
{
    MatterGroup matter{QUuid::createUuid(), name, static_cast<std::int64_t>(snapshot_.matters.size())};
    snapshot_.matters.append(matter);
    return matter;
}

MaterialRecord& DataRootBuilder::material(const QUuid& id)
{
    MaterialRecord* record = snapshot_.findMaterial(id);
    if (!record)
        throw std::logic_error("no such material in the fixture");
    return *record;
}

void DataRootBuilder::writeState(std::uint64_t generation)
{
    WorkspaceSnapshot saved = snapshot_;
    saved.generation = generation;
    writeStateBytes(Json::encode(saved));
}

void DataRootBuilder::writeStateBytes(const QByteArray& bytes)
{
    writeFile(QStringLiteral("state.json"), bytes);
}

void DataRootBuilder::writePreviousState(const WorkspaceSnapshot& snapshot)
{
    writePreviousStateBytes(Json::encode(snapshot));
}

void DataRootBuilder::writePreviousStateBytes(const QByteArray& bytes)
{
    writeFile(QStringLiteral("state.previous.json"), bytes);
}

MaterialRecord DataRootBuilder::interruptedImport(const QByteArray& payload, StoreJournal::Phase phase,
    bool payloadMoved, const QUuid& matterID)
{
    MaterialRecord record;
    record.id = QUuid::createUuid();
    record.kind = MaterialKind::text;
    record.matterID = matterOrDefault(matterID);
    record.status = MaterialStatus::hanging;
    record.order = 0;
    record.title = QString::fromUtf8(payload.left(80));
    record.createdAt = Date::now();
    record.source.origin = ImportOrigin::clipboard;

    MaterialVersion version;
    version.id = QUuid::createUuid();
    version.relativePath = payloadPath(record.id, version.id, QStringLiteral("txt"));
    version.sha256 = digest(payload);
    version.byteCount = payload.size();
    version.kind = VersionKind::original;
    version.createdAt = record.createdAt;
    record.versions = {version};
    record.originalVersionID = version.id;
    record.activeVersionID = version.id;

    if (payloadMoved)
        writeFile(version.relativePath, payload);
    else
        writeFile(QStringLiteral("Transactions/") + uuidText(QUuid::createUuid()) + QStringLiteral(".stage"), payload);
    writeJournal(StoreJournal{QUuid::createUuid(), phase, record, std::nullopt});
    return record;
}

MaterialVersion DataRootBuilder::interruptedEdit(const QUuid& materialID, const QByteArray& payload,
    StoreJournal::Phase phase, bool payloadMoved)
{
    const MaterialRecord& base = material(materialID);
    MaterialRecord edited = base;
    MaterialVersion version;
    version.id = QUuid::createUuid();
    version.relativePath = payloadPath(base.id, version.id, QFileInfo(base.versions.first().relativePath).suffix());
    version.sha256 = digest(payload);
    version.byteCount = payload.size();
    version.kind = VersionKind::textEdit;
    version.createdAt = Date::now();
    edited.versions.append(version);
    edited.activeVersionID = version.id;

    if (payloadMoved)
        writeFile(version.relativePath, payload);
    writeJournal(StoreJournal{QUuid::createUuid(), phase, edited, base.activeVersionID});
    return version;
}

void DataRootBuilder::alterPayload(const MaterialVersion& version)
{
    QByteArray bytes = readFile(version.relativePath);
    if (bytes.isEmpty())
        throw std::logic_error("an empty payload cannot be altered in place");
    bytes[0] = static_cast<char>(bytes[0] ^ 0x20);
    writeFile(version.relativePath, bytes);
}

void DataRootBuilder::writeSchemaVersion2()
{
    QByteArray bytes = Json::encode(snapshot_);
    const QByteArray key = "\"schemaVersion\":1";
    const qsizetype at = bytes.indexOf(key);
    if (at < 0)
        throw std::logic_error("the encoder wrote no schemaVersion 1");
    bytes.replace(at, key.size(), "\"schemaVersion\":2");
    writeStateBytes(bytes);
}

void DataRootBuilder::writeOnlyPreviousState(std::uint64_t generation)
{
    WorkspaceSnapshot saved = snapshot_;
    saved.generation = generation;
    writePreviousState(saved);
    QFile::remove(path(QStringLiteral("state.json")));
}

void DataRootBuilder::writeDamagedStateWithPrevious(std::uint64_t generation)
{
    WorkspaceSnapshot saved = snapshot_;
    saved.generation = generation;
    const QByteArray bytes = Json::encode(saved);
    writePreviousStateBytes(bytes);
    writeStateBytes(bytes.left(bytes.size() / 2));
}

QString DataRootBuilder::plantMaterialsLink(const QUuid& materialID)
{
    const QString folder = path(QStringLiteral("Materials/") + uuidText(materialID));
    const QString elsewhere = rootPath_ + QStringLiteral(".outside/") + uuidText(materialID);
    QDir().mkpath(QFileInfo(elsewhere).absolutePath());
    if (QFileInfo::exists(folder)) {
        std::filesystem::rename(folder.toStdString(), elsewhere.toStdString());
    } else {
        QDir().mkpath(elsewhere);
    }
    std::filesystem::create_directory_symlink(elsewhere.toStdString(), folder.toStdString());
    return folder;
}

void DataRootBuilder::writeFile(const QString& relativePath, const QByteArray& bytes)
{
    writeWhole(path(relativePath), bytes);
}

QByteArray DataRootBuilder::readFile(const QString& relativePath) const
{
    QFile file(path(relativePath));
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read fixture file " + relativePath.toStdString());
    return file.readAll();
}

bool DataRootBuilder::fileExists(const QString& relativePath) const
{
    return QFileInfo(path(relativePath)).isFile();
}

void DataRootBuilder::writeJournal(const StoreJournal& journal, const std::optional<QString>& fileName)
{
    writeFile(QStringLiteral("Transactions/") + fileName.value_or(uuidText(journal.id) + QStringLiteral(".json")),
        Json::encode(journal));
}

} // namespace tolvex::testing
