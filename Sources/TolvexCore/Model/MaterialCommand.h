#pragma once

#include "TolvexCore/Model/CaptureFolderSetting.h"
#include "TolvexCore/Model/SourceRecord.h"

#include <QString>
#include <QUuid>

#include <optional>
#include <variant>

namespace tolvex {

// The user commands handed to the store. The alternatives are declared in the
// commands' fixed order (index 0 to 13).
struct MaterialCommand {
    struct TakeDown { QUuid materialID; };
    struct Hang { QUuid materialID; };
    struct Archive { QUuid materialID; };
    struct Pin { QUuid materialID; bool pinned = false; };
    struct TakeDownUnpinned { QUuid matterID; };
    struct CreateMatter { QString name; };
    struct RenameMatter { QUuid matterID; QString name; };
    struct SelectMatter { QUuid matterID; };
    struct MoveToMatter { QUuid materialID; QUuid matterID; };
    struct RenameMaterial { QUuid materialID; QString title; };
    struct SetSource { QUuid materialID; SourceRecord source; };
    struct SetPrivacyHidden { bool hidden = false; };
    // Absent clears the capture folder.
    struct SetCaptureFolder { std::optional<CaptureFolderSetting> setting; };
    struct Trash { QUuid materialID; };

    using Value = std::variant<TakeDown, Hang, Archive, Pin, TakeDownUnpinned, CreateMatter, RenameMatter,
        SelectMatter, MoveToMatter, RenameMaterial, SetSource, SetPrivacyHidden, SetCaptureFolder, Trash>;
    Value value;

    static MaterialCommand takeDown(const QUuid& id) { return {TakeDown{id}}; }
    static MaterialCommand hang(const QUuid& id) { return {Hang{id}}; }
    static MaterialCommand archive(const QUuid& id) { return {Archive{id}}; }
    static MaterialCommand pin(const QUuid& id, bool pinned) { return {Pin{id, pinned}}; }
    static MaterialCommand takeDownUnpinned(const QUuid& matterID) { return {TakeDownUnpinned{matterID}}; }
    static MaterialCommand createMatter(QString name) { return {CreateMatter{std::move(name)}}; }
    static MaterialCommand renameMatter(const QUuid& id, QString name) { return {RenameMatter{id, std::move(name)}}; }
    static MaterialCommand selectMatter(const QUuid& id) { return {SelectMatter{id}}; }
    static MaterialCommand moveToMatter(const QUuid& materialID, const QUuid& matterID)
    {
        return {MoveToMatter{materialID, matterID}};
    }
    static MaterialCommand renameMaterial(const QUuid& id, QString title)
    {
        return {RenameMaterial{id, std::move(title)}};
    }
    static MaterialCommand setSource(const QUuid& id, SourceRecord source) { return {SetSource{id, std::move(source)}}; }
    static MaterialCommand setPrivacyHidden(bool hidden) { return {SetPrivacyHidden{hidden}}; }
    static MaterialCommand setCaptureFolder(std::optional<CaptureFolderSetting> setting)
    {
        return {SetCaptureFolder{std::move(setting)}};
    }
    static MaterialCommand trash(const QUuid& id) { return {Trash{id}}; }
};

} // namespace tolvex
