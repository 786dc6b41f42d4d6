#pragma once

#include "Support/DataRootBuilder.h"
#include "Support/EventLoopWait.h"
#include "Support/MemoryUserDefaults.h"
#include "TolvexCore/Files/SystemFileOperations.h"
#include "TolvexCore/Model/DataRoot.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Store/FutureResult.h"
#include "TolvexCore/Store/MaterialStore.h"
#include "Velmarin/Actions/Markup.h"
#include "Velmarin/Actions/MaterialActions.h"
#include "Velmarin/Platform/ClipboardWriter.h"
#include "Velmarin/Platform/DesktopOpener.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Shelf/LineStore.h"

#include <QDirIterator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace tolvex::testing {

class RecordingClipboard final : public ClipboardWriter {
public:
    bool write(std::unique_ptr<QMimeData> data) override
    {
        if (!accepts)
            return false;
        written.push_back(std::move(data));
        return true;
    }
    bool accepts = true;
    std::vector<std::unique_ptr<QMimeData>> written;
};

class RecordingDesktop final : public DesktopOpener {
public:
    bool open(const QUrl& file) override
    {
        opened.append(file);
        return verdict == OpenVerdict::opened;
    }
    QCoro::Task<OpenVerdict> openAndConfirm(const QUrl& file) override
    {
        opened.append(file);
        co_return verdict;
    }
    QCoro::Task<bool> reveal(const QUrl& file) override
    {
        revealed.append(file);
        co_return shows;
    }
    OpenVerdict verdict = OpenVerdict::opened;
    // Whether a reveal shows the file (or its folder).
    bool shows = true;
    QList<QUrl> opened;
    QList<QUrl> revealed;
};

// A markup service that keeps its callbacks for the test to call.
class ScriptedService final : public MarkupService {
public:
    bool canPerform(const QUrl&) const override { return accepts; }
    void perform(const QUrl& item, DidShare share, DidFail fail) override
    {
        performed.append(item);
        didShare = std::move(share);
        didFail = std::move(fail);
    }
    void dismiss() override { ++dismissed; }
    bool accepts = true;
    QList<QUrl> performed;
    int dismissed = 0;
    DidShare didShare;
    DidFail didFail;
};

// The real store over a temporary data root, the real line over it, and
// actions whose clipboard, desktop and markup editor are recorded.
class ActionsFixture {
public:
    ActionsFixture() : builder(folder.filePath(QStringLiteral("Tolvex"))) {}

    MaterialRecord& add(const QByteArray& payload, MaterialKind kind, const QString& extension)
    {
        MaterialRecord& record = builder.addMaterial(payload, MaterialStatus::hanging, extension);
        record.kind = kind;
        return record;
    }

    // Opens the store and loads the line; call after adding materials.
    void start(Markup* session = nullptr)
    {
        builder.writeState();
        store = std::make_unique<MaterialStore>(builder.rootURL(), SystemFileOperations::shared(),
            StorageBudget{std::int64_t{1} << 40, std::int64_t{1} << 50, 0});
        lineStore = std::make_unique<MaterialLineStore>(*store);
        line = std::make_unique<Line>(*lineStore, defaults, [](const QUrl&) { return std::optional<QImage>(); });
        QCoro::waitFor(line->load());
        actions = std::make_unique<MaterialActions>(*line, builder.rootURL(), store.get(), &clipboard, &desktop,
            session ? session : &markup);
    }

    // Runs the task to its end; its error, or null (QCoro::waitFor never
    // returns from a task that throws).
    template <typename T>
    static std::exception_ptr attempt(QCoro::Task<T> task)
    {
        std::exception_ptr error;
        const auto catching = [](QCoro::Task<T> running, std::exception_ptr& caught) -> QCoro::Task<void> {
            try {
                co_await std::move(running);
            } catch (...) {
                caught = std::current_exception();
            }
        };
        QCoro::waitFor(catching(std::move(task), error));
        return error;
    }

    // Every exported copy, by path.
    QStringList exports() const
    {
        QStringList files;
        QDirIterator it(builder.path(DataRoot::exportsFolder()), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            files.append(it.next());
        files.sort();
        return files;
    }

    QTemporaryDir folder;
    DataRootBuilder builder;
    MemoryUserDefaults defaults;
    RecordingClipboard clipboard;
    RecordingDesktop desktop;
    QList<QUrl> launched;
    Markup markup{[this](const QUrl& url) { launched.append(url); }};
    std::unique_ptr<MaterialStore> store;
    std::unique_ptr<MaterialLineStore> lineStore;
    std::unique_ptr<Line> line;
    std::unique_ptr<MaterialActions> actions;
};

inline bool isStoreError(std::exception_ptr error, StoreError expected)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const StoreError& thrown) {
        return thrown == expected;
    } catch (...) {
    }
    return false;
}

} // namespace tolvex::testing
