#include "TolvexCore/Store/Internal/MaterialCommands.h"

#include "TolvexCore/Texts/SourceFormatter.h"
#include "TolvexCore/Model/UnicodeText.h"
#include "TolvexCore/Store/Internal/ImportCommit.h"
#include "TolvexCore/Store/Internal/StoreContext.h"
#include "TolvexCore/Model/StoreError.h"

namespace tolvex {

namespace {

// The longest title, in user-perceived characters.
constexpr qsizetype maximumTitleLength = 1024;

template <typename... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};
template <typename... Handlers>
Overloaded(Handlers...) -> Overloaded<Handlers...>;

// The material with this id unless it is trashed; null otherwise.
MaterialRecord* liveMaterial(WorkspaceSnapshot& snapshot, const QUuid& id)
{
    MaterialRecord* material = snapshot.findMaterial(id);
    return material && material->status != MaterialStatus::trashed ? material : nullptr;
}

MaterialRecord& requireLive(WorkspaceSnapshot& snapshot, const QUuid& id)
{
    MaterialRecord* material = liveMaterial(snapshot, id);
    if (!material)
        throw StoreError::notFound();
    return *material;
}

} // namespace

WorkspaceSnapshot MaterialCommands::apply(const MaterialCommand& command, std::int64_t visibleCapacity)
{
    const WorkspaceSnapshot loaded = context_.ensureLoaded();
    WorkspaceSnapshot changed = loaded;

    // Each handler changes `changed`, or returns the snapshot to answer with
    // without saving.
    const std::optional<WorkspaceSnapshot> unsaved = std::visit(
        Overloaded{
            [&](const MaterialCommand::TakeDown& c) -> std::optional<WorkspaceSnapshot> {
                requireLive(changed, c.materialID).status = MaterialStatus::takenDown;
                return std::nullopt;
            },
            [&](const MaterialCommand::Hang& c) -> std::optional<WorkspaceSnapshot> {
                const MaterialRecord& material = requireLive(changed, c.materialID);
                if (material.status == MaterialStatus::hanging)
                    return loaded;
                const ImportResult rehung = ImportCommit::rehang(context_, material, loaded, visibleCapacity);
                if (rehung.disposition.kind() != ImportDisposition::Case::hanging)
                    throw StoreError::budgetExceeded();
                changed = rehung.snapshot;
                return std::nullopt;
            },
            [&](const MaterialCommand::TakeDownUnpinned& c) -> std::optional<WorkspaceSnapshot> {
                for (MaterialRecord& material : changed.materials) {
                    if (material.matterID == c.matterID && material.status == MaterialStatus::hanging && !material.pinned)
                        material.status = MaterialStatus::takenDown;
                }
                return std::nullopt;
            },
            [&](const MaterialCommand::RenameMaterial& c) -> std::optional<WorkspaceSnapshot> {
                const QString title = UnicodeText::trimmedWhitespaceAndNewlines(c.title);
                if (title.isEmpty() || UnicodeText::graphemeCount(title) > maximumTitleLength)
                    throw StoreError::invalidSource();
                MaterialRecord* material = liveMaterial(changed, c.materialID);
                if (!material)
                    throw StoreError::invalidSource();
                material->title = title;
                return std::nullopt;
            },
            [&](const MaterialCommand::SetSource& c) -> std::optional<WorkspaceSnapshot> {
                SourceFormatter::validate(c.source);
                requireLive(changed, c.materialID).source = c.source;
                return std::nullopt;
            },
            [&](const MaterialCommand::SetPrivacyHidden& c) -> std::optional<WorkspaceSnapshot> {
                changed.privacyHidden = c.hidden;
                return std::nullopt;
            },
            [&](const MaterialCommand::SetCaptureFolder& c) -> std::optional<WorkspaceSnapshot> {
                if (c.setting && (c.setting->bookmark.isEmpty() || !c.setting->lastKnownPath.startsWith(u'/')))
                    throw StoreError::invalidPath();
                changed.captureFolder = c.setting;
                return std::nullopt;
            },
            // Groups, pins, archiving and the trash are not commands of this store.
            [](const auto&) -> std::optional<WorkspaceSnapshot> { throw StoreError::invalidSource(); },
        },
        command.value);

    if (unsaved)
        return *unsaved;
    return context_.persist(changed);
}

} // namespace tolvex
