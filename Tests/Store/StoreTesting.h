#pragma once

#include "Support/DataRootBuilder.h"
#include "Support/FaultInjectingFileOperations.h"
#include "Support/FolderContents.h"
#include "TolvexCore/Files/SystemFileOperations.h"
#include "TolvexCore/Model/JsonCoding.h"
#include "TolvexCore/Store/FutureResult.h"
#include "TolvexCore/Store/MaterialStore.h"
#include "TolvexCore/Store/Internal/StoreContext.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Store/Internal/StoreExecutor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <system_error>

namespace tolvex::testing {

inline constexpr std::int64_t unlimitedCapacity = std::numeric_limits<std::int64_t>::max();

// A budget that never gets in the way (and asks the volume like the real one).
inline StorageBudget roomyBudget()
{
    return StorageBudget{std::int64_t{1} << 40, std::int64_t{1} << 50, 0};
}

// Passes when `work` throws a StoreError of `expected`.
template <typename Work>
::testing::AssertionResult throwsStoreError(Work&& work, StoreError::Code expected)
{
    try {
        work();
    } catch (const StoreError& error) {
        if (error.code() == expected)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "StoreError " << error.caseName() << ", expected "
                                             << StoreError(expected).caseName();
    } catch (const std::exception& error) {
        return ::testing::AssertionFailure() << "another error: " << error.what();
    }
    return ::testing::AssertionFailure() << "no error, expected " << StoreError(expected).caseName();
}

// Passes when `work` throws a file error with this errno.
template <typename Work>
::testing::AssertionResult throwsFileError(Work&& work, std::errc expected)
{
    try {
        work();
    } catch (const std::system_error& error) {
        if (error.code() == expected)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "file error " << error.code().message();
    } catch (const std::exception& error) {
        return ::testing::AssertionFailure() << "another error: " << error.what();
    }
    return ::testing::AssertionFailure() << "no error";
}

// One temporary folder holding one data root ("<tmp>/Tolvex"), with helpers
// to make stores over it.
class StoreTestCase : public ::testing::Test {
protected:
    StoreTestCase() : rootPath(temporary.path() + QStringLiteral("/Tolvex")), rootURL(QUrl::fromLocalFile(rootPath)) {}

    DataRootBuilder& builder()
    {
        if (!builder_)
            builder_.emplace(rootPath);
        return *builder_;
    }

    std::unique_ptr<MaterialStore> makeStore(FileOperationsRef files = SystemFileOperations::shared(),
        StorageBudget budget = roomyBudget()) const
    {
        return std::make_unique<MaterialStore>(rootURL, std::move(files), budget);
    }

    std::shared_ptr<FaultInjectingFileOperations> faultInjecting() const
    {
        return std::make_shared<FaultInjectingFileOperations>(SystemFileOperations::shared());
    }

    // Saves through the store's own save, as every changing operation does.
    static WorkspaceSnapshot persist(MaterialStore& store, const WorkspaceSnapshot& snapshot)
    {
        return waitForResult(
            store.executor().run([snapshot](StoreContext& context) { return context.persist(snapshot); }));
    }

    static WorkspaceSnapshot load(MaterialStore& store) { return waitForResult(store.load()); }

    // The note-draft calls, waited for.
    static NoteDraft createNote(MaterialStore& store, std::optional<QUuid> material = std::nullopt)
    {
        return waitForResult(store.createNoteDraft(material));
    }
    static NoteDraft updateNote(MaterialStore& store, const QUuid& draft, const QString& text)
    {
        return waitForResult(store.updateNoteDraft(draft, text));
    }
    static WorkspaceSnapshot publishNote(MaterialStore& store, const QUuid& draft,
        std::int64_t capacity = unlimitedCapacity)
    {
        return waitForResult(store.publishNoteDraft(draft, capacity));
    }

    static SourceRecord sourceOf(ImportOrigin origin)
    {
        SourceRecord source;
        source.origin = origin;
        source.isManuallyRegistered = false;
        return source;
    }
    static ImportResult importText(MaterialStore& store, const QString& text,
        ImportOrigin origin = ImportOrigin::clipboard, bool deduplicate = false,
        DuplicateImportPolicy policy = DuplicateImportPolicy::keepExisting,
        const QUuid& group = MatterGroup::ungroupedID(), std::int64_t capacity = unlimitedCapacity)
    {
        return waitForResult(store.importMaterial(
            ImportRequest::text(text, sourceOf(origin)), group, capacity, deduplicate, std::nullopt, policy));
    }
    static QFuture<ImportResult> importTextLater(MaterialStore& store, const QString& text)
    {
        return store.importMaterial(ImportRequest::text(text, sourceOf(ImportOrigin::clipboard)),
            MatterGroup::ungroupedID(), unlimitedCapacity, false, std::nullopt, DuplicateImportPolicy::keepExisting);
    }
    static ImportResult importFile(MaterialStore& store, const QString& file,
        ImportOrigin origin = ImportOrigin::fileSelection,
        DuplicateImportPolicy policy = DuplicateImportPolicy::keepExisting,
        const std::optional<ClipboardFileFingerprint>& expected = std::nullopt,
        const QUuid& group = MatterGroup::ungroupedID(), std::int64_t capacity = unlimitedCapacity)
    {
        return waitForResult(store.importMaterial(ImportRequest::file(QUrl::fromLocalFile(file), origin), group,
            capacity, false, expected, policy));
    }
    static WorkspaceSnapshot apply(MaterialStore& store, const MaterialCommand& command,
        std::int64_t capacity = unlimitedCapacity)
    {
        return waitForResult(store.apply(command, capacity));
    }

    // A file outside the data root, in the test's temporary folder.
    QString writeOutside(const QString& name, const QByteArray& contents) const
    {
        const QString file = temporary.path() + u'/' + name;
        QFile out(file);
        EXPECT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(contents);
        return file;
    }
    // The files below a folder of the data root.
    QStringList filesBelow(const QString& relativeFolder) const
    {
        QStringList result;
        for (const QString& entry : entries(relativeFolder)) {
            if (QFileInfo(path(entry)).isFile())
                result.append(entry);
        }
        return result;
    }

    QString path(const QString& relativePath) const { return rootPath + u'/' + relativePath; }
    bool exists(const QString& relativePath) const { return QFileInfo::exists(path(relativePath)); }
    QByteArray bytes(const QString& relativePath) const
    {
        QFile file(path(relativePath));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    WorkspaceSnapshot stateOnDisk(const QString& name = QStringLiteral("state.json")) const
    {
        return Json::decode<WorkspaceSnapshot>(bytes(name));
    }
    // Every entry of the data root, recursively, as relative paths.
    QStringList entries(const QString& relativeFolder = {}) const
    {
        QStringList result;
        const QDir folder(relativeFolder.isEmpty() ? rootPath : path(relativeFolder));
        for (const QFileInfo& info : folder.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
            const QString relative = relativeFolder.isEmpty() ? info.fileName() : relativeFolder + u'/' + info.fileName();
            result.append(relative);
            if (info.isDir() && !info.isSymLink())
                result.append(entries(relative));
        }
        return result;
    }

    // Every entry of the data root with its bytes (a folder's key ends in
    // "/"), to prove that an operation left the root exactly as it was.
    QMap<QString, QByteArray> contents() const { return contentsOf(rootPath); }
    // The same of any folder.
    static QMap<QString, QByteArray> contentsOf(const QString& folder) { return folderContents(folder); }

    QTemporaryDir temporary;
    const QString rootPath;
    const QUrl rootURL;

private:
    std::optional<DataRootBuilder> builder_;
};

} // namespace tolvex::testing
