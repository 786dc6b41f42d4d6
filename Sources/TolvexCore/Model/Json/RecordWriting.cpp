#include "TolvexCore/Model/Json/RecordWriting.h"

#include "TolvexCore/Model/ClipboardPreference.h"
#include "TolvexCore/Model/EditSession.h"
#include "TolvexCore/Model/Json/JsonWriter.h"
#include "TolvexCore/Model/Json/MaterialEncodingCache.h"
#include "TolvexCore/Model/NoteDraft.h"
#include "TolvexCore/Model/RawEnum.h"
#include "TolvexCore/Model/StoreJournal.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"

namespace tolvex::Json::detail {

namespace {

template <typename E>
void writeEnum(JsonWriter& out, E value)
{
    const std::string_view raw = rawValue(value);
    out.string(QString::fromLatin1(raw.data(), static_cast<qsizetype>(raw.size())));
}

} // namespace

void write(JsonWriter& out, const PageLocator& locator)
{
    out.beginObject();
    if (locator.isPdfIndex()) {
        out.key("pdfIndex");
        out.beginObject();
        out.key("_0");
        out.number(locator.index());
        out.endObject();
    } else {
        out.key("printedPage");
        out.beginObject();
        out.key("_0");
        out.string(locator.label());
        out.endObject();
    }
    out.endObject();
}

void write(JsonWriter& out, const SourceRecord& source)
{
    out.beginObject();
    out.key("origin");
    writeEnum(out, source.origin);
    if (source.filePath) {
        out.key("filePath");
        out.string(*source.filePath);
    }
    if (source.fileBookmark) {
        out.key("fileBookmark");
        out.data(*source.fileBookmark);
    }
    if (source.webURL) {
        out.key("webURL");
        out.url(*source.webURL);
    }
    if (source.manualTitle) {
        out.key("manualTitle");
        out.string(*source.manualTitle);
    }
    if (source.locator) {
        out.key("locator");
        write(out, *source.locator);
    }
    out.key("isManuallyRegistered");
    out.boolean(source.isManuallyRegistered);
    out.endObject();
}

void write(JsonWriter& out, const MaterialVersion& version)
{
    out.beginObject();
    out.key("id");
    out.uuid(version.id);
    out.key("relativePath");
    out.string(version.relativePath);
    out.key("sha256");
    out.string(version.sha256);
    out.key("byteCount");
    out.number(version.byteCount);
    out.key("kind");
    writeEnum(out, version.kind);
    out.key("createdAt");
    out.number(version.createdAt.secondsSinceReferenceDate);
    out.endObject();
}

void write(JsonWriter& out, const MaterialRecord& record)
{
    out.beginObject();
    out.key("id");
    out.uuid(record.id);
    out.key("kind");
    writeEnum(out, record.kind);
    out.key("matterID");
    out.uuid(record.matterID);
    out.key("status");
    writeEnum(out, record.status);
    out.key("pinned");
    out.boolean(record.pinned);
    out.key("order");
    out.number(record.order);
    out.key("title");
    out.string(record.title);
    out.key("createdAt");
    out.number(record.createdAt.secondsSinceReferenceDate);
    out.key("source");
    write(out, record.source);
    out.key("versions");
    out.beginArray();
    for (const MaterialVersion& version : record.versions)
        write(out, version);
    out.endArray();
    out.key("originalVersionID");
    out.uuid(record.originalVersionID);
    out.key("activeVersionID");
    out.uuid(record.activeVersionID);
    out.endObject();
}

void write(JsonWriter& out, const MatterGroup& group)
{
    out.beginObject();
    out.key("id");
    out.uuid(group.id);
    out.key("name");
    out.string(group.name);
    out.key("order");
    out.number(group.order);
    out.endObject();
}

void write(JsonWriter& out, const CaptureFolderSetting& setting)
{
    out.beginObject();
    out.key("bookmark");
    out.data(setting.bookmark);
    out.key("lastKnownPath");
    out.string(setting.lastKnownPath);
    out.key("enabled");
    out.boolean(setting.enabled);
    out.endObject();
}

void write(JsonWriter& out, const WorkspaceSnapshot& snapshot, MaterialEncodingCache* cache)
{
    out.beginObject();
    out.key("schemaVersion");
    out.number(snapshot.schemaVersion);
    out.key("generation");
    out.number(snapshot.generation);
    out.key("materials");
    out.beginArray();
    if (cache)
        cache->begin();
    for (const MaterialRecord& record : snapshot.materials) {
        if (!cache) {
            write(out, record);
        } else if (const QByteArray* kept = cache->find(record)) {
            out.encoded(*kept);
        } else {
            JsonWriter alone;
            write(alone, record);
            QByteArray bytes = alone.take();
            out.encoded(bytes);
            cache->keep(record, std::move(bytes));
        }
    }
    if (cache)
        cache->end();
    out.endArray();
    out.key("matters");
    out.beginArray();
    for (const MatterGroup& group : snapshot.matters)
        write(out, group);
    out.endArray();
    out.key("selectedMatterID");
    out.uuid(snapshot.selectedMatterID);
    out.key("privacyHidden");
    out.boolean(snapshot.privacyHidden);
    if (snapshot.captureFolder) {
        out.key("captureFolder");
        write(out, *snapshot.captureFolder);
    }
    out.endObject();
}

void write(JsonWriter& out, const StoreJournal& journal)
{
    out.beginObject();
    out.key("id");
    out.uuid(journal.id);
    out.key("phase");
    writeEnum(out, journal.phase);
    out.key("record");
    write(out, journal.record);
    if (journal.baseVersionID) {
        out.key("baseVersionID");
        out.uuid(*journal.baseVersionID);
    }
    out.endObject();
}

void write(JsonWriter& out, const EditSession& session)
{
    out.beginObject();
    out.key("id");
    out.uuid(session.id);
    out.key("materialID");
    out.uuid(session.materialID);
    out.key("baseVersionID");
    out.uuid(session.baseVersionID);
    out.key("workingURL");
    out.url(session.workingURL);
    out.key("kind");
    writeEnum(out, session.kind);
    out.endObject();
}

void write(JsonWriter& out, const NoteDraft& draft)
{
    out.beginObject();
    out.key("id");
    out.uuid(draft.id);
    out.key("materialID");
    out.uuid(draft.materialID);
    out.key("matterID");
    out.uuid(draft.matterID);
    if (draft.baseVersionID) {
        out.key("baseVersionID");
        out.uuid(*draft.baseVersionID);
    }
    out.key("text");
    out.string(draft.text);
    out.key("revision");
    out.number(draft.revision);
    if (draft.publishedRevision) {
        out.key("publishedRevision");
        out.number(*draft.publishedRevision);
    }
    out.key("updatedAt");
    out.number(draft.updatedAt.secondsSinceReferenceDate);
    out.endObject();
}

void write(JsonWriter& out, const ClipboardPreference& preference)
{
    out.beginObject();
    out.key("version");
    out.number(preference.version);
    out.key("enabled");
    out.boolean(preference.enabled);
    out.key("images");
    out.boolean(preference.images);
    out.key("text");
    out.boolean(preference.text);
    out.key("files");
    out.boolean(preference.files);
    out.key("includeExisting");
    out.boolean(preference.includeExisting);
    out.endObject();
}

void write(JsonWriter& out, const CleanupFingerprint& fingerprint)
{
    out.beginObject();
    out.key("path");
    out.string(fingerprint.path);
    out.key("directory");
    out.boolean(fingerprint.directory);
    out.key("bytes");
    out.number(fingerprint.bytes);
    out.key("modifiedAt");
    out.number(fingerprint.modifiedAt.secondsSinceReferenceDate);
    if (fingerprint.sha256) {
        out.key("sha256");
        out.string(*fingerprint.sha256);
    }
    out.endObject();
}

void write(JsonWriter& out, const CleanupTarget& target)
{
    out.beginObject();
    out.key("kind");
    writeEnum(out, target.kind);
    if (target.materialID) {
        out.key("materialID");
        out.uuid(*target.materialID);
    }
    out.key("title");
    out.string(target.title);
    out.key("relativePath");
    out.string(target.relativePath);
    out.key("byteCount");
    out.number(target.byteCount);
    out.key("fileCount");
    out.number(target.fileCount);
    out.key("fingerprints");
    out.beginArray();
    for (const CleanupFingerprint& fingerprint : target.fingerprints)
        write(out, fingerprint);
    out.endArray();
    out.endObject();
}

void write(JsonWriter& out, const CleanupReceipt::Outcome& outcome)
{
    out.beginObject();
    out.key("originalPath");
    out.string(outcome.originalPath);
    if (outcome.trashURL) {
        out.key("trashURL");
        out.url(*outcome.trashURL);
    }
    out.key("verified");
    out.boolean(outcome.verified);
    if (outcome.error) {
        out.key("error");
        out.string(*outcome.error);
    }
    out.endObject();
}

void write(JsonWriter& out, const CleanupReceipt& receipt)
{
    out.beginObject();
    out.key("id");
    out.uuid(receipt.id);
    out.key("createdAt");
    out.number(receipt.createdAt.secondsSinceReferenceDate);
    out.key("authorization");
    out.string(receipt.authorization);
    out.key("snapshotBefore");
    write(out, receipt.snapshotBefore);
    out.key("targets");
    out.beginArray();
    for (const CleanupTarget& target : receipt.targets)
        write(out, target);
    out.endArray();
    out.key("outcomes");
    out.beginArray();
    for (const CleanupReceipt::Outcome& outcome : receipt.outcomes)
        write(out, outcome);
    out.endArray();
    out.endObject();
}

} // namespace tolvex::Json::detail
