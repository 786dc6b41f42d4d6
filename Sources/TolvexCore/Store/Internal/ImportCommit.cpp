#include "TolvexCore/Store/Internal/ImportCommit.h"

#include "TolvexCore/Content/ContentStore.h"
#include "TolvexCore/Files/LocalPathEncoding.h"
#include "TolvexCore/Model/JsonCoding.h"
#include "TolvexCore/Model/StoreJournal.h"
#include "TolvexCore/Model/UuidText.h"
#include "TolvexCore/Store/ShelfPolicy.h"
#include "TolvexCore/Store/Internal/JournalledCommit.h"
#include "TolvexCore/Store/Internal/StoreContext.h"
#include "TolvexCore/Model/StoreError.h"

#include <QDir>

namespace tolvex {

namespace {

bool isClipboardLikeOrigin(ImportOrigin origin)
{
    return origin == ImportOrigin::clipboard || origin == ImportOrigin::drop || origin == ImportOrigin::fileSelection;
}

// The first version of kind "original"; later ones are not looked at.
const MaterialVersion* firstOriginal(const MaterialRecord& record)
{
    for (const MaterialVersion& version : record.versions) {
        if (version.kind == VersionKind::original)
            return &version;
    }
    return nullptr;
}

PayloadFacts bytesFacts(const QByteArray& bytes, const SourceRecord& source)
{
    return PayloadFacts{bytes.size(), ContentStore::digest(bytes), source};
}

} // namespace

PayloadFacts ImportCommit::payloadInfo(const StoreContext& context, const ImportRequest& request)
{
    if (const ImportRequest::ImageData* image = request.asImageData())
        return bytesFacts(image->bytes, image->source);
    if (const ImportRequest::Text* text = request.asText())
        return bytesFacts(text->text.toUtf8(), text->source);

    const ImportRequest::File& file = *request.asFile();
    const std::optional<QString> exactPath = file.url.isLocalFile() ? exactLocalPath(file.url) : std::nullopt;
    if (!exactPath)
        throw StoreError::invalidSource();
    const FileInfo before = context.files->inspect(file.url);
    if (!before.isRegularFile || before.isSymbolicLink || before.byteCount > context.budget.maxFileBytes)
        throw StoreError::invalidSource();
    // Hashed from the one file that was opened, through a small buffer: a
    // whole-file buffer of a large file costs as much as hashing it.
    const QString sha256 = context.content.digestOfUnchanged(file.url, before);

    SourceRecord source;
    source.origin = file.origin;
    // As the staged content records it: the form people read, the same for
    // every name that reads alike (duplicates are told apart by their bytes).
    source.filePath = readableLocalPath(QDir::cleanPath(*exactPath));
    source.isManuallyRegistered = false;
    return PayloadFacts{before.byteCount, sha256, source};
}

void ImportCommit::checkExpectedClipboardFile(const StoreContext& context, const ImportOrder& order,
    const PayloadFacts& facts)
{
    const ClipboardFileFingerprint& expected = *order.expectedClipboardFile;
    const ImportRequest::File* file = order.request.asFile();
    if (!file || !isClipboardLikeOrigin(file->origin))
        throw StoreError::sourceChanged();
    if (facts.byteCount != expected.info.byteCount || facts.sha256 != expected.sha256)
        throw StoreError::sourceChanged();
    const FileInfo now = context.files->inspect(file->url);
    if (now.isRegularFile != expected.info.isRegularFile || now.isSymbolicLink != expected.info.isSymbolicLink
        || now.byteCount != facts.byteCount || now.modificationDate != expected.info.modificationDate)
        throw StoreError::sourceChanged();
}

const MaterialRecord* ImportCommit::findDuplicate(const WorkspaceSnapshot& snapshot, const ImportOrder& order,
    const PayloadFacts& facts)
{
    const ImportOrigin origin = facts.source.origin;
    const bool broad = (order.duplicatePolicy == DuplicateImportPolicy::rehangTakenDown && isClipboardLikeOrigin(origin))
        || (order.deduplicateClipboardContent && origin == ImportOrigin::clipboard);
    const std::optional<QString>& filePath = facts.source.filePath;

    for (const MaterialRecord& record : snapshot.materials) {
        bool candidate = record.source == facts.source;
        if (!candidate && broad && record.source.origin != ImportOrigin::note) {
            if (!filePath)
                candidate = record.kind == MaterialKind::image || record.kind == MaterialKind::text;
            else
                candidate = record.source.filePath && *record.source.filePath == *filePath;
        }
        if (!candidate || record.matterID != order.matterID || record.status == MaterialStatus::trashed)
            continue;
        const MaterialVersion* original = firstOriginal(record);
        if (original && original->sha256 == facts.sha256)
            return &record;
    }
    return nullptr;
}

ImportResult ImportCommit::rehang(StoreContext& context, const MaterialRecord& record,
    const WorkspaceSnapshot& snapshot, std::int64_t visibleCapacity)
{
    // The card hangs only over an intact payload.
    context.payloadURL(record.id);
    WorkspaceSnapshot without = snapshot;
    without.materials.removeIf([&](const MaterialRecord& other) { return other.id == record.id; });
    ImportResult admitted = ShelfPolicy::admit(record, without, visibleCapacity);
    if (admitted.disposition.kind() == ImportDisposition::Case::hanging)
        return admitted;
    return ImportResult{ImportDisposition::shelfFull(), snapshot};
}

ImportCommit::Decision ImportCommit::prepare(StoreContext& context, ImportOrder order)
{
    const WorkspaceSnapshot loaded = context.ensureLoaded();
    PayloadFacts facts = payloadInfo(context, order.request);
    if (order.expectedClipboardFile)
        checkExpectedClipboardFile(context, order, facts);

    if (const MaterialRecord* duplicate = findDuplicate(loaded, order, facts)) {
        if (order.duplicatePolicy == DuplicateImportPolicy::keepExisting || duplicate->status != MaterialStatus::takenDown)
            return ImportResult{ImportDisposition::duplicate(duplicate->id), loaded};
        ImportResult rehung = rehang(context, *duplicate, loaded, order.visibleCapacity);
        if (rehung.disposition.kind() != ImportDisposition::Case::hanging)
            return rehung;
        return ImportResult{rehung.disposition, context.persist(rehung.snapshot)};
    }

    if (!ShelfPolicy::canAdmit(loaded, order.matterID, order.visibleCapacity))
        return ImportResult{ImportDisposition::shelfFull(), loaded};
    context.checkBudget(facts.byteCount);
    return Plan{std::move(order), loaded, std::move(facts)};
}

StagedContent ImportCommit::stage(const ContentStore& content, const Plan& plan)
{
    // The file is read no further than the size measured when it was hashed.
    return content.stage(plan.order.request, plan.order.cancellation, plan.facts.byteCount);
}

ImportResult ImportCommit::finish(StoreContext& context, Plan& plan, StagedContent& staged)
{
    if (staged.byteCount != plan.facts.byteCount || staged.sha256 != plan.facts.sha256)
        throw StoreError::sourceChanged();
    plan.order.cancellation.check();

    const QUuid materialID = QUuid::createUuid();
    const MaterialVersion version = JournalledCommit::plannedVersion(staged, materialID, VersionKind::original);
    const QUuid versionID = version.id;

    MaterialRecord record;
    record.id = materialID;
    record.kind = staged.kind;
    record.matterID = plan.order.matterID;
    record.status = MaterialStatus::hanging;
    record.pinned = false;
    record.order = 0;
    record.title = staged.title;
    record.createdAt = Date::now();
    record.source = staged.source;
    record.versions = {version};
    record.originalVersionID = versionID;
    record.activeVersionID = versionID;

    StoreJournal journal{QUuid::createUuid(), StoreJournal::Phase::contentReady, record, std::nullopt};
    JournalledCommit::announce(context, journal);

    // From the move on, the disk may hold more than the loaded workspace
    // knows: drop it, so that the next operation replays the journal.
    try {
        record.versions = {JournalledCommit::complete(context, staged, journal, version)};
        const ImportResult admitted = ShelfPolicy::admit(record, plan.loaded, plan.order.visibleCapacity);
        if (admitted.disposition.kind() != ImportDisposition::Case::hanging)
            throw StoreError::recoveryRequired();
        return ImportResult{ImportDisposition::hanging(materialID), context.persist(admitted.snapshot)};
    } catch (...) {
        context.dropWorkspace();
        throw;
    }
}

} // namespace tolvex
