#include "TolvexCore/Model/JsonCoding.h"

#include "TolvexCore/Model/ClipboardPreference.h"
#include "TolvexCore/Model/EditSession.h"
#include "TolvexCore/Model/Json/JsonReader.h"
#include "TolvexCore/Model/Json/JsonWriter.h"
#include "TolvexCore/Model/Json/MaterialEncodingCache.h"
#include "TolvexCore/Model/Json/RecordWriting.h"
#include "TolvexCore/Model/NoteDraft.h"
#include "TolvexCore/Model/StoreJournal.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"
#include "TolvexCore/Model/CleanupReceipt.h"

namespace tolvex::Json {

namespace {

template <typename T>
QByteArray encoded(const T& value)
{
    JsonWriter out;
    detail::write(out, value);
    return out.take();
}

template <typename T>
struct Reading;

template <>
struct Reading<PageLocator> {
    static PageLocator read(const ObjectReader& in)
    {
        const bool hasPdfIndex = in.object().contains("pdfIndex");
        const bool hasPrintedPage = in.object().contains("printedPage");
        // Keys that name no case are ignored; exactly one case must remain.
        if (hasPdfIndex == hasPrintedPage)
            throw DecodingError(DecodingError::Kind::typeMismatch, in.path().text(),
                QStringLiteral("Invalid number of keys found, expected one."));
        if (hasPdfIndex)
            return PageLocator::pdfIndex(in.nested("pdfIndex").int64("_0"));
        return PageLocator::printedPage(in.nested("printedPage").string("_0"));
    }
};

template <>
struct Reading<SourceRecord> {
    static SourceRecord read(const ObjectReader& in)
    {
        SourceRecord source;
        source.origin = in.enumeration<ImportOrigin>("origin");
        source.filePath = in.optionalString("filePath");
        source.fileBookmark = in.optionalData("fileBookmark");
        source.webURL = in.optionalUrl("webURL");
        source.manualTitle = in.optionalString("manualTitle");
        if (const auto locator = in.optional("locator"))
            source.locator = Reading<PageLocator>::read(ObjectReader(*locator, in.memberPath("locator")));
        source.isManuallyRegistered = in.boolean("isManuallyRegistered");
        return source;
    }
};

template <>
struct Reading<MaterialVersion> {
    static MaterialVersion read(const ObjectReader& in)
    {
        MaterialVersion version;
        version.id = in.uuid("id");
        version.relativePath = in.string("relativePath");
        version.sha256 = in.string("sha256");
        version.byteCount = in.int64("byteCount");
        version.kind = in.enumeration<VersionKind>("kind");
        version.createdAt = Date{in.number("createdAt")};
        return version;
    }
};

template <typename T>
T readElement(Json::JsonValue value, const CodingPath& path)
{
    return Reading<T>::read(ObjectReader(value, path));
}

template <>
struct Reading<MaterialRecord> {
    static MaterialRecord read(const ObjectReader& in)
    {
        MaterialRecord record;
        record.id = in.uuid("id");
        record.kind = in.enumeration<MaterialKind>("kind");
        record.matterID = in.uuid("matterID");
        record.status = in.enumeration<MaterialStatus>("status");
        record.pinned = in.boolean("pinned");
        record.order = in.int64("order");
        record.title = in.string("title");
        record.createdAt = Date{in.number("createdAt")};
        record.source = Reading<SourceRecord>::read(in.nested("source"));
        record.versions = in.array<MaterialVersion>("versions", readElement<MaterialVersion>);
        record.originalVersionID = in.uuid("originalVersionID");
        record.activeVersionID = in.uuid("activeVersionID");
        return record;
    }
};

template <>
struct Reading<MatterGroup> {
    static MatterGroup read(const ObjectReader& in)
    {
        return MatterGroup{in.uuid("id"), in.string("name"), in.int64("order")};
    }
};

template <>
struct Reading<CaptureFolderSetting> {
    static CaptureFolderSetting read(const ObjectReader& in)
    {
        return CaptureFolderSetting{in.data("bookmark"), in.string("lastKnownPath"), in.boolean("enabled")};
    }
};

template <>
struct Reading<WorkspaceSnapshot> {
    static WorkspaceSnapshot read(const ObjectReader& in)
    {
        WorkspaceSnapshot snapshot;
        snapshot.schemaVersion = in.int64("schemaVersion");
        snapshot.generation = in.uint64("generation");
        snapshot.materials = in.array<MaterialRecord>("materials", readElement<MaterialRecord>);
        snapshot.matters = in.array<MatterGroup>("matters", readElement<MatterGroup>);
        snapshot.selectedMatterID = in.uuid("selectedMatterID");
        snapshot.privacyHidden = in.boolean("privacyHidden");
        if (const auto folder = in.optional("captureFolder"))
            snapshot.captureFolder = readElement<CaptureFolderSetting>(*folder, in.memberPath("captureFolder"));
        return snapshot;
    }
};

template <>
struct Reading<StoreJournal> {
    static StoreJournal read(const ObjectReader& in)
    {
        StoreJournal journal;
        journal.id = in.uuid("id");
        journal.phase = in.enumeration<StoreJournal::Phase>("phase");
        journal.record = Reading<MaterialRecord>::read(in.nested("record"));
        journal.baseVersionID = in.optionalUuid("baseVersionID");
        return journal;
    }
};

template <>
struct Reading<EditSession> {
    static EditSession read(const ObjectReader& in)
    {
        EditSession session;
        session.id = in.uuid("id");
        session.materialID = in.uuid("materialID");
        session.baseVersionID = in.uuid("baseVersionID");
        session.workingURL = in.url("workingURL");
        session.kind = in.enumeration<VersionKind>("kind");
        return session;
    }
};

template <>
struct Reading<NoteDraft> {
    static NoteDraft read(const ObjectReader& in)
    {
        NoteDraft draft;
        draft.id = in.uuid("id");
        draft.materialID = in.uuid("materialID");
        draft.matterID = in.uuid("matterID");
        draft.baseVersionID = in.optionalUuid("baseVersionID");
        draft.text = in.string("text");
        draft.revision = in.uint64("revision");
        draft.publishedRevision = in.optionalUInt64("publishedRevision");
        draft.updatedAt = Date{in.number("updatedAt")};
        return draft;
    }
};

template <>
struct Reading<ClipboardPreference> {
    static ClipboardPreference read(const ObjectReader& in)
    {
        const std::int64_t version = in.int64("version");
        if (version != 1 && version != 2)
            throw DecodingError(DecodingError::Kind::dataCorrupted, in.memberPath("version").text(),
                QStringLiteral("Unsupported preference version"));
        const bool enabled = in.boolean("enabled");
        if (version == 1)
            return ClipboardPreference(enabled, true, true, true, true);
        return ClipboardPreference(enabled, in.boolean("images"), in.boolean("text"), in.boolean("files"),
            in.boolean("includeExisting"));
    }
};

template <>
struct Reading<CleanupFingerprint> {
    static CleanupFingerprint read(const ObjectReader& in)
    {
        CleanupFingerprint fingerprint;
        fingerprint.path = in.string("path");
        fingerprint.directory = in.boolean("directory");
        fingerprint.bytes = in.int64("bytes");
        fingerprint.modifiedAt = Date{in.number("modifiedAt")};
        fingerprint.sha256 = in.optionalString("sha256");
        return fingerprint;
    }
};

template <>
struct Reading<CleanupTarget> {
    static CleanupTarget read(const ObjectReader& in)
    {
        CleanupTarget target;
        target.kind = in.enumeration<CleanupTarget::Kind>("kind");
        target.materialID = in.optionalUuid("materialID");
        target.title = in.string("title");
        target.relativePath = in.string("relativePath");
        target.byteCount = in.int64("byteCount");
        target.fileCount = in.int64("fileCount");
        target.fingerprints = in.array<CleanupFingerprint>("fingerprints", readElement<CleanupFingerprint>);
        return target;
    }
};

template <>
struct Reading<CleanupReceipt::Outcome> {
    static CleanupReceipt::Outcome read(const ObjectReader& in)
    {
        CleanupReceipt::Outcome outcome;
        outcome.originalPath = in.string("originalPath");
        outcome.trashURL = in.optionalUrl("trashURL");
        outcome.verified = in.boolean("verified");
        outcome.error = in.optionalString("error");
        return outcome;
    }
};

template <>
struct Reading<CleanupReceipt> {
    static CleanupReceipt read(const ObjectReader& in)
    {
        CleanupReceipt receipt;
        receipt.id = in.uuid("id");
        receipt.createdAt = Date{in.number("createdAt")};
        receipt.authorization = in.string("authorization");
        receipt.snapshotBefore = Reading<WorkspaceSnapshot>::read(in.nested("snapshotBefore"));
        receipt.targets = in.array<CleanupTarget>("targets", readElement<CleanupTarget>);
        receipt.outcomes = in.array<CleanupReceipt::Outcome>("outcomes", readElement<CleanupReceipt::Outcome>);
        return receipt;
    }
};

} // namespace

QByteArray encode(const WorkspaceSnapshot& value) { return encoded(value); }
QByteArray encode(const WorkspaceSnapshot& value, MaterialEncodingCache& cache)
{
    JsonWriter out;
    // A save changes a record or two: about as many bytes as the last one.
    out.reserve(cache.encodedSize() + cache.encodedSize() / 16 + 4096);
    detail::write(out, value, &cache);
    QByteArray bytes = out.take();
    cache.setEncodedSize(bytes.size());
    return bytes;
}
QByteArray encode(const MaterialRecord& value) { return encoded(value); }
QByteArray encode(const MaterialVersion& value) { return encoded(value); }
QByteArray encode(const SourceRecord& value) { return encoded(value); }
QByteArray encode(const PageLocator& value) { return encoded(value); }
QByteArray encode(const MatterGroup& value) { return encoded(value); }
QByteArray encode(const CaptureFolderSetting& value) { return encoded(value); }
QByteArray encode(const StoreJournal& value) { return encoded(value); }
QByteArray encode(const EditSession& value) { return encoded(value); }
QByteArray encode(const NoteDraft& value) { return encoded(value); }
QByteArray encode(const ClipboardPreference& value) { return encoded(value); }
QByteArray encode(const CleanupFingerprint& value) { return encoded(value); }
QByteArray encode(const CleanupTarget& value) { return encoded(value); }
QByteArray encode(const CleanupReceipt& value) { return encoded(value); }

CleanupReceiptEncoding::CleanupReceiptEncoding(const CleanupReceipt& receipt)
{
    CleanupReceipt withoutOutcomes = receipt;
    withoutOutcomes.outcomes.clear();
    head_ = encoded(withoutOutcomes);
    // The outcomes are the last member: cut before the closing "]}" of their empty array.
    head_.chop(2);
}

QByteArray CleanupReceiptEncoding::encode(const CleanupReceipt& receipt) const
{
    QByteArray bytes;
    bytes.reserve(head_.size() + receipt.outcomes.size() * 160 + 2);
    bytes.append(head_);
    for (qsizetype i = 0; i < receipt.outcomes.size(); ++i) {
        if (i > 0)
            bytes.append(',');
        bytes.append(encoded(receipt.outcomes[i]));
    }
    bytes.append("]}");
    return bytes;
}

template <typename T>
T decode(const JsonDocument& document)
{
    return Reading<T>::read(ObjectReader(document.root(), CodingPath()));
}

template <typename T>
T decode(const QByteArray& bytes)
{
    return decode<T>(JsonDocument::parse(bytes));
}

template WorkspaceSnapshot decode<WorkspaceSnapshot>(const JsonDocument&);
template WorkspaceSnapshot decode<WorkspaceSnapshot>(const QByteArray&);
template MaterialRecord decode<MaterialRecord>(const QByteArray&);
template MaterialVersion decode<MaterialVersion>(const QByteArray&);
template SourceRecord decode<SourceRecord>(const QByteArray&);
template PageLocator decode<PageLocator>(const QByteArray&);
template MatterGroup decode<MatterGroup>(const QByteArray&);
template CaptureFolderSetting decode<CaptureFolderSetting>(const QByteArray&);
template StoreJournal decode<StoreJournal>(const QByteArray&);
template EditSession decode<EditSession>(const QByteArray&);
template NoteDraft decode<NoteDraft>(const QByteArray&);
template ClipboardPreference decode<ClipboardPreference>(const QByteArray&);
template CleanupFingerprint decode<CleanupFingerprint>(const QByteArray&);
template CleanupTarget decode<CleanupTarget>(const QByteArray&);
template CleanupReceipt decode<CleanupReceipt>(const QByteArray&);

} // namespace tolvex::Json
