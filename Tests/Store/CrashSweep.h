#pragma once

#include "StoreTesting.h"

#include <QDir>

#include <filesystem>
#include <functional>
#include <string>

namespace tolvex::testing {

// One armed fault of a sweep: the call it hit and how.
struct SweepStep {
    enum class Mode { fail, crash, crashWithDebris };
    int callIndex = 0;
    Mode mode = Mode::fail;
    // The operation and path of the call, for failure messages.
    std::string call;

    std::string describe() const
    {
        const char* modeName = mode == Mode::fail ? "failing" : mode == Mode::crash ? "crashing at" : "crashing (with debris) at";
        return std::string(modeName) + " call " + std::to_string(callIndex) + " (" + call + ")";
    }
};

// A crash-point sweep over one store operation.
//
// The operation first runs once on a copy of the prepared data root to count
// its file calls (those after `setUp`). Then, for every call index and each
// of the three modes, it runs again on a fresh copy with that call failing
// (EIO) or "crashing" (the call and everything after it never reach the
// disk). `check` then gets the copy's root path, after the store that ran
// the operation is gone, and inspects it with a new store over the real file
// layer. Returns the number of calls swept.
struct CrashSweep {
    QString preparedRoot;
    StorageBudget budget = roomyBudget();
    // Runs on the store before the calls are counted (typically a load).
    std::function<void(MaterialStore&)> setUp = [](MaterialStore& store) { waitForResult(store.load()); };
    // The operation under test; it may throw.
    std::function<void(MaterialStore&)> operation;
    // Which calls count (all by default).
    FaultInjectingFileOperations::Filter filter;
    std::function<void(const QString& root, const SweepStep& step)> check;

    int run(const QString& workFolder) const
    {
        const std::vector<FaultInjectingFileOperations::Call> calls = countCalls(workFolder + QStringLiteral("/count"));
        const int total = static_cast<int>(calls.size());
        EXPECT_GT(total, 0) << "the operation made no file call";
        for (int index = 1; index <= total; ++index) {
            for (const SweepStep::Mode mode : {SweepStep::Mode::fail, SweepStep::Mode::crash, SweepStep::Mode::crashWithDebris}) {
                const auto& call = calls[static_cast<std::size_t>(index - 1)];
                SweepStep step{index, mode,
                    std::string(fileOperationName(call.operation)) + " " + call.url.toLocalFile().toStdString()};
                const QString root = workFolder + QStringLiteral("/run-%1-%2/Tolvex").arg(index).arg(static_cast<int>(mode));
                copyTree(preparedRoot, root);
                runOnce(root, [&](FaultInjectingFileOperations& files) {
                    if (mode == SweepStep::Mode::fail) {
                        files.failCall(index, EIO);
                    } else {
                        files.setCrashLeavesDebris(mode == SweepStep::Mode::crashWithDebris);
                        files.crashAtCall(index);
                    }
                });
                SCOPED_TRACE(step.describe());
                check(root, step);
            }
        }
        return total;
    }

    static void copyTree(const QString& from, const QString& to)
    {
        std::filesystem::create_directories(std::filesystem::path(to.toStdString()).parent_path());
        std::filesystem::copy(from.toStdString(), to.toStdString(),
            std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks);
    }

private:
    std::vector<FaultInjectingFileOperations::Call> countCalls(const QString& root) const
    {
        copyTree(preparedRoot, root);
        std::vector<FaultInjectingFileOperations::Call> calls;
        const bool succeeded = runOnce(root, [](FaultInjectingFileOperations&) {}, &calls);
        EXPECT_TRUE(succeeded) << "the operation must succeed without faults";
        return calls;
    }

    // Whether the operation ended without an error.
    bool runOnce(const QString& root, const std::function<void(FaultInjectingFileOperations&)>& arm,
        std::vector<FaultInjectingFileOperations::Call>* calls = nullptr) const
    {
        auto files = std::make_shared<FaultInjectingFileOperations>(SystemFileOperations::shared());
        MaterialStore store(QUrl::fromLocalFile(root), files, budget);
        setUp(store);
        files->reset();
        if (filter)
            files->setFilter(filter);
        arm(*files);
        bool succeeded = true;
        try {
            operation(store);
        } catch (const std::exception& error) {
            // Failing is what the fault asks for; the check judges what is left.
            succeeded = false;
            if (calls)
                ADD_FAILURE() << "unexpected error: " << error.what();
        }
        if (calls) {
            for (const auto& call : files->log())
                calls->push_back(call);
        }
        return succeeded;
    }
};

} // namespace tolvex::testing
