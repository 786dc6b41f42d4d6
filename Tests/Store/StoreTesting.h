#pragma once

#include "Support/DataRootBuilder.h"
#include "Support/FaultInjectingFileOperations.h"
#include "TolvexCore/Content/SystemFileOperations.h"
#include "TolvexCore/Model/JsonCoding.h"
#include "TolvexCore/Store/FutureResult.h"
#include "TolvexCore/Store/MaterialStore.h"
#include "TolvexCore/Store/StoreContext.h"
#include "TolvexCore/Store/StoreError.h"
#include "TolvexCore/Store/StoreExecutor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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

    QTemporaryDir temporary;
    const QString rootPath;
    const QUrl rootURL;

private:
    std::optional<DataRootBuilder> builder_;
};

} // namespace tolvex::testing
