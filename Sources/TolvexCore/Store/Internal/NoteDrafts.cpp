#include "TolvexCore/Store/Internal/NoteDrafts.h"

#include "TolvexCore/Content/ContentStore.h"
#include "TolvexCore/Model/DataRoot.h"
#include "TolvexCore/Model/ImportRequest.h"
#include "TolvexCore/Model/JsonCoding.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Model/StoreJournal.h"
#include "TolvexCore/Model/UnicodeText.h"
#include "TolvexCore/Model/UuidText.h"
#include "TolvexCore/Store/Internal/JournalledCommit.h"
#include "TolvexCore/Store/Internal/StoreContext.h"
#include "TolvexCore/Store/ShelfPolicy.h"

#include <QStringDecoder>

#include <algorithm>
#include <limits>
#include <system_error>

namespace tolvex {

namespace {

constexpr std::uint64_t largestRevision = std::numeric_limits<std::uint64_t>::max();
constexpr qsizetype titleLength = 80;

using DataRoot::draftFolder;

QString draftFile(const QUuid& id)
{
    return DataRoot::noteDraftPath(id);
}

SourceRecord noteSource()
{
    SourceRecord source;
    source.origin = ImportOrigin::note;
    source.isManuallyRegistered = false;
    return source;
}

bool isNoteMaterial(const MaterialRecord& record)
{
    return record.kind == MaterialKind::text && record.source.origin == ImportOrigin::note
        && record.status != MaterialStatus::trashed;
}

// Places `record` in `snapshot` as a publication leaves it: a hanging card
// keeps its order and pin and moves to the end; any other is admitted anew.
WorkspaceSnapshot placed(const MaterialRecord& record, const WorkspaceSnapshot& snapshot, bool wasHanging,
    std::int64_t visibleCapacity)
{
    WorkspaceSnapshot result = snapshot;
    for (qsizetype i = 0; i < result.materials.size(); ++i) {
        if (result.materials[i].id == record.id) {
            result.materials.removeAt(i);
            break;
        }
    }
    if (wasHanging) {
        result.materials.append(record);
        return result;
    }
    ImportResult admitted = ShelfPolicy::admit(record, result, visibleCapacity);
    if (admitted.disposition.kind() != ImportDisposition::Case::hanging)
        throw StoreError::budgetExceeded();
    return admitted.snapshot;
}

} // namespace

QString NoteDrafts::title(const QString& text)
{
    qsizetype start = 0;
    while (start <= text.size()) {
        qsizetype end = start;
        // Every line separator is a single UTF-16 unit.
        while (end < text.size() && !UnicodeText::isNewline(text[end].unicode()))
            ++end;
        const QString line = UnicodeText::trimmedWhitespace(text.mid(start, end - start));
        if (!line.isEmpty())
            return UnicodeText::graphemePrefix(line, titleLength);
        start = end + 1;
    }
    return QString();
}

NoteDraft NoteDrafts::readNoteDraft(const QUuid& draftID)
{
    const QUrl url = context_.url(draftFile(draftID));
    const FileInfo info = context_.files->inspect(url);
    if (!info.isRegularFile || info.isSymbolicLink || info.byteCount > NoteDraft::maximumFileBytes)
        throw StoreError::recoveryRequired();
    const NoteDraft draft = context_.readRecord<NoteDraft>(url);
    if (draft.id != draftID || draft.text.toUtf8().size() > NoteDraft::maximumTextBytes
        || draft.revision == largestRevision || (draft.publishedRevision && *draft.publishedRevision > draft.revision))
        throw StoreError::recoveryRequired();
    return draft;
}

void NoteDrafts::saveNoteDraft(const NoteDraft& draft)
{
    const QByteArray encoded = Json::encode(draft);
    context_.checkBudget(encoded.size());
    context_.files->createDirectory(context_.url(draftFolder(draft.id)));
    context_.files->writeAtomic(encoded, context_.url(draftFile(draft.id)));
}

QList<NoteDraft> NoteDrafts::noteDrafts()
{
    QList<NoteDraft> drafts;
    for (const QUuid& id : context_.draftFolderIDs()) {
        // A folder without a note is an edit session's.
        if (!context_.exists(context_.url(draftFile(id))))
            continue;
        drafts.append(readNoteDraft(id));
    }
    std::stable_sort(drafts.begin(), drafts.end(),
        [](const NoteDraft& a, const NoteDraft& b) { return a.updatedAt > b.updatedAt; });
    return drafts;
}

void NoteDrafts::forgetMaterialsWithoutDrafts()
{
    if (context_.activeNoteMaterials.isEmpty())
        return;
    QSet<QUuid> drafted;
    try {
        for (const NoteDraft& draft : noteDrafts())
            drafted.insert(draft.materialID);
    } catch (const StoreError&) {
        return;
    } catch (const std::system_error&) {
        return;
    }
    context_.activeNoteMaterials.intersect(drafted);
}

NoteDraft NoteDrafts::createNoteDraft(const std::optional<QUuid>& materialID)
{
    const WorkspaceSnapshot snapshot = context_.ensureLoaded();
    NoteDraft draft;
    draft.id = QUuid::createUuid();
    if (!materialID) {
        draft.materialID = QUuid::createUuid();
        draft.matterID = snapshot.selectedMatterID;
        draft.updatedAt = Date::now();
        saveNoteDraft(draft);
        return draft;
    }

    const MaterialRecord* material = snapshot.findMaterial(*materialID);
    if (!material || !isNoteMaterial(*material))
        throw StoreError::invalidEdit();
    for (const NoteDraft& existing : noteDrafts()) {
        if (existing.materialID == *materialID && existing.isPending())
            return existing;
    }
    const QByteArray payload = context_.files->read(context_.payloadURL(*materialID));
    if (payload.size() > NoteDraft::maximumTextBytes)
        throw StoreError::invalidEdit();
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    const QString text = decoder.decode(payload);
    if (decoder.hasError())
        throw StoreError::invalidEdit();

    draft.materialID = *materialID;
    draft.matterID = material->matterID;
    draft.baseVersionID = material->activeVersionID;
    draft.text = text;
    draft.revision = 0;
    draft.publishedRevision = 0;
    draft.updatedAt = Date::now();
    saveNoteDraft(draft);
    context_.activeNoteMaterials.insert(*materialID);
    return draft;
}

NoteDraft NoteDrafts::updateNoteDraft(const QUuid& draftID, const QString& text)
{
    const WorkspaceSnapshot snapshot = context_.ensureLoaded();
    if (text.toUtf8().size() > NoteDraft::maximumTextBytes)
        throw StoreError::budgetExceeded();
    NoteDraft draft = readNoteDraft(draftID);
    if (UnicodeText::canonicallyEqual(draft.text, text))
        return draft;
    if (draft.revision >= largestRevision - 1)
        throw StoreError::invalidEdit();
    adoptOwnPublication(draft, snapshot);
    draft.text = text;
    draft.revision += 1;
    draft.updatedAt = Date::now();
    saveNoteDraft(draft);
    return draft;
}

// A publication whose payload reached the workspace but whose own draft save
// failed (or was cut off) leaves the draft on its old base. Left alone, the
// first change typed after that would make every later publication fail
// (the material's active version is no longer the draft's base) and the
// newest text could never be hung. So before a changed text replaces the
// stored one, a pending draft takes the material's active version as its base
// when that version is provably its own publication:
// - its bytes are exactly the draft's stored text (the text a publication
//   publishes; nothing but this update changes it afterwards), so nothing
//   anyone else wrote is passed over, and
// - a journal records the commit of that version onto the draft's own base
//   (none for a new note), as every publication writes one before its commit.
// A version made by anyone else holds other bytes, or was made from another
// base, and is never adopted: publishing over it stays refused.
void NoteDrafts::adoptOwnPublication(NoteDraft& draft, const WorkspaceSnapshot& snapshot)
{
    if (!draft.isPending())
        return;
    const MaterialRecord* material = snapshot.findMaterial(draft.materialID);
    if (!material || !isNoteMaterial(*material))
        return;
    if (draft.baseVersionID && *draft.baseVersionID == material->activeVersionID)
        return;
    const MaterialVersion* active = material->findVersion(material->activeVersionID);
    if (!active)
        return;
    const QByteArray stored = draft.text.toUtf8();
    if (active->byteCount != stored.size() || active->sha256 != ContentStore::digest(stored))
        return;
    if (!journalRecords(material->id, active->id, draft.baseVersionID))
        return;
    draft.baseVersionID = active->id;
    draft.publishedRevision = draft.revision;
}

bool NoteDrafts::journalRecords(const QUuid& materialID, const QUuid& versionID,
    const std::optional<QUuid>& baseVersionID)
{
    for (const QString& name : context_.journalFileNames()) {
        StoreJournal journal;
        try {
            journal = Json::decode<StoreJournal>(context_.files->read(context_.url(DataRoot::entry(DataRoot::transactionsFolder(), name))));
        } catch (const Json::DecodingError&) {
            continue;
        }
        if (journal.record.id == materialID && journal.record.activeVersionID == versionID
            && journal.baseVersionID == baseVersionID && name == DataRoot::journalFileName(journal.id))
            return true;
    }
    return false;
}

QList<NoteDraft> NoteDrafts::pendingNoteDrafts()
{
    const WorkspaceSnapshot snapshot = context_.ensureLoaded();
    QList<NoteDraft> pending;
    for (const NoteDraft& draft : noteDrafts()) {
        if (!draft.isPending())
            continue;
        const MaterialRecord* material = snapshot.findMaterial(draft.materialID);
        if (material && material->status == MaterialStatus::trashed)
            continue;
        pending.append(draft);
    }
    return pending;
}

NoteDrafts::Decision NoteDrafts::preparePublication(StoreContext& context, PublicationOrder order)
{
    NoteDrafts store(context);
    Plan plan;
    plan.loaded = context.ensureLoaded();
    plan.draft = store.readNoteDraft(order.draftID);
    const NoteDraft& draft = plan.draft;
    if (UnicodeText::trimmedWhitespaceAndNewlines(draft.text).isEmpty())
        throw StoreError::invalidSource();
    const bool groupExists = std::any_of(plan.loaded.matters.cbegin(), plan.loaded.matters.cend(),
        [&](const MatterGroup& matter) { return matter.id == draft.matterID; });
    if (!groupExists)
        throw StoreError::invalidSource();

    plan.title = title(draft.text);
    const QByteArray payload = draft.text.toUtf8();
    plan.byteCount = payload.size();
    plan.sha256 = ContentStore::digest(payload);

    bool unchanged = false;
    if (const MaterialRecord* existing = plan.loaded.findMaterial(draft.materialID)) {
        if (!isNoteMaterial(*existing))
            throw StoreError::invalidEdit();
        context.payloadURL(existing->id);
        const MaterialVersion* active = existing->findVersion(existing->activeVersionID);
        unchanged = active && active->sha256 == plan.sha256;
        if (!unchanged && (!draft.baseVersionID || *draft.baseVersionID != existing->activeVersionID))
            throw StoreError::invalidEdit();
        plan.existing = *existing;
    } else if (draft.baseVersionID) {
        throw StoreError::invalidEdit();
    }

    const QUuid target = plan.existing ? plan.existing->matterID : draft.matterID;
    const bool hangsAlready = plan.existing && plan.existing->status == MaterialStatus::hanging;
    if (!hangsAlready && !ShelfPolicy::canAdmit(plan.loaded, target, order.visibleCapacity))
        throw StoreError::budgetExceeded();

    plan.order = std::move(order);
    if (unchanged)
        return store.republish(plan);
    context.checkBudget(plan.byteCount);
    return plan;
}

WorkspaceSnapshot NoteDrafts::republish(const Plan& plan)
{
    MaterialRecord record = *plan.existing;
    record.title = plan.title;
    const WorkspaceSnapshot next = placed(record, plan.loaded,
        plan.existing->status == MaterialStatus::hanging, plan.order.visibleCapacity);
    const WorkspaceSnapshot result = next == plan.loaded ? plan.loaded : context_.persist(next);

    NoteDraft draft = plan.draft;
    draft.baseVersionID = record.activeVersionID;
    draft.publishedRevision = draft.revision;
    saveNoteDraft(draft);
    context_.activeNoteMaterials.remove(draft.materialID);
    return result;
}

StagedContent NoteDrafts::stagePublication(const ContentStore& content, const Plan& plan)
{
    return content.stage(ImportRequest::text(plan.draft.text, noteSource()), plan.order.cancellation);
}

WorkspaceSnapshot NoteDrafts::finishPublication(StoreContext& context, Plan& plan, StagedContent& staged)
{
    if (staged.byteCount != plan.byteCount || staged.sha256 != plan.sha256)
        throw StoreError::sourceChanged();
    plan.order.cancellation.check();

    const NoteDraft& draft = plan.draft;
    const MaterialVersion version = JournalledCommit::plannedVersion(
        staged, draft.materialID, plan.existing ? VersionKind::textEdit : VersionKind::original);
    const QUuid versionID = version.id;

    MaterialRecord record;
    if (plan.existing) {
        record = *plan.existing;
        record.versions.append(version);
        record.activeVersionID = versionID;
        record.title = plan.title;
    } else {
        record.id = draft.materialID;
        record.kind = MaterialKind::text;
        record.matterID = draft.matterID;
        record.status = MaterialStatus::hanging;
        record.pinned = false;
        record.order = 0;
        record.title = plan.title;
        record.createdAt = Date::now();
        record.source = noteSource();
        record.versions = {version};
        record.originalVersionID = versionID;
        record.activeVersionID = versionID;
    }

    StoreJournal journal{QUuid::createUuid(), StoreJournal::Phase::contentReady, record,
        plan.existing ? std::optional<QUuid>(plan.existing->activeVersionID) : std::nullopt};
    JournalledCommit::announce(context, journal);

    try {
        record.versions.last() = JournalledCommit::complete(context, staged, journal, version);
        const WorkspaceSnapshot next = placed(record, plan.loaded,
            plan.existing && plan.existing->status == MaterialStatus::hanging, plan.order.visibleCapacity);
        const WorkspaceSnapshot result = next == plan.loaded ? plan.loaded : context.persist(next);

        NoteDraft published = draft;
        published.baseVersionID = versionID;
        published.publishedRevision = published.revision;
        NoteDrafts(context).saveNoteDraft(published);
        context.activeNoteMaterials.remove(draft.materialID);
        return result;
    } catch (...) {
        context.dropWorkspace();
        throw;
    }
}

} // namespace tolvex
