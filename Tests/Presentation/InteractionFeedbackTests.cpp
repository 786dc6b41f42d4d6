#include "Support/DataRootBuilder.h"
#include "Support/FaultInjectingFileOperations.h"
#include "TolvexCore/Files/SystemFileOperations.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Store/MaterialStore.h"
#include "Velmarin/Presentation/InteractionFeedback.h"
#include "Velmarin/Presentation/PlatformErrorForm.h"

#include <QException>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

namespace tolvex {
namespace {

using Kind = InteractionFeedback::Kind;
using Code = StoreError::Code;

void expectFeedback(std::exception_ptr error, MessageKey message, Kind kind, const std::string& name)
{
    const InteractionFeedback feedback(error);
    EXPECT_EQ(feedback.message, message) << name;
    EXPECT_EQ(feedback.kind, kind) << name;
}

TEST(InteractionFeedbackTests, EveryStoreErrorCase)
{
    const struct {
        Code code;
        MessageKey message;
        Kind kind;
    } cases[] = {
        {Code::invalidPath, MessageKey::feedbackPath, Kind::access},
        {Code::invalidSource, MessageKey::feedbackSourceChanged, Kind::sourceChanged},
        {Code::invalidSnapshot, MessageKey::feedbackRecovery, Kind::recovery},
        {Code::unsupportedSchema, MessageKey::feedbackRecovery, Kind::recovery},
        {Code::unavailableSpace, MessageKey::feedbackCapacity, Kind::capacity},
        {Code::budgetExceeded, MessageKey::feedbackCapacity, Kind::capacity},
        {Code::sourceChanged, MessageKey::feedbackSourceChanged, Kind::sourceChanged},
        {Code::recoveryRequired, MessageKey::feedbackRecovery, Kind::recovery},
        {Code::notFound, MessageKey::feedbackSourceChanged, Kind::sourceChanged},
        {Code::operationInProgress, MessageKey::feedbackBusy, Kind::busy},
        {Code::invalidEdit, MessageKey::feedbackRecovery, Kind::recovery},
        {Code::rootReplaced, MessageKey::feedbackRootReplaced, Kind::restart},
    };
    static_assert(std::size(cases) == 12, "every case of StoreError");
    for (const auto& c : cases) {
        const StoreError error(c.code);
        expectFeedback(std::make_exception_ptr(error), c.message, c.kind, std::string(error.caseName()));
    }
}

TEST(InteractionFeedbackTests, FileErrorsByErrnoAndDirection)
{
    const struct {
        int error;
        const char* operation;
        int platformCode; // 0: not a file manager error
        MessageKey message;
        Kind kind;
    } cases[] = {
        {EACCES, "read /x", 257, MessageKey::feedbackPermission, Kind::access},
        {EPERM, "inspect /x", 257, MessageKey::feedbackPermission, Kind::access},
        {EROFS, "open", 257, MessageKey::feedbackPermission, Kind::access},
        {EACCES, "writeAtomic /x", 513, MessageKey::feedbackPermission, Kind::access},
        {EPERM, "move /x", 513, MessageKey::feedbackPermission, Kind::access},
        {EROFS, "createDirectory /x", 513, MessageKey::feedbackPermission, Kind::access},
        {ENOENT, "read /x", 260, MessageKey::feedbackPath, Kind::access},
        {ENOENT, "copy /x", 4, MessageKey::feedbackPath, Kind::access},
        {ENOSPC, "writeAtomic /x", 640, MessageKey::feedbackCapacity, Kind::capacity},
        {EDQUOT, "copy /x", 640, MessageKey::feedbackCapacity, Kind::capacity},
        {EIO, "read /x", 0, MessageKey::feedbackRecovery, Kind::recovery},
    };
    for (const auto& c : cases) {
        const std::system_error error(c.error, std::generic_category(), c.operation);
        const std::string name = std::string(c.operation) + " errno " + std::to_string(c.error);
        const PlatformErrorForm form = PlatformErrorForm::of(error);
        EXPECT_EQ(form.domain == PlatformErrorForm::Domain::fileManager, c.platformCode != 0) << name;
        EXPECT_EQ(form.code, c.platformCode) << name;
        expectFeedback(std::make_exception_ptr(error), c.message, c.kind, name);
        // As it leaves a QFuture: wrapped, and still recognised.
        expectFeedback(std::make_exception_ptr(QUnhandledException(std::make_exception_ptr(error))), c.message,
            c.kind, name + " wrapped");
    }
    expectFeedback(std::make_exception_ptr(std::runtime_error("x")), MessageKey::feedbackRecovery, Kind::recovery,
        "not a file error");
}

// A card renamed or taken down on a full volume: the store's save fails as
// the disk answers, and the alert must speak of room, not of damage.
TEST(InteractionFeedbackTests, AFullDiskIsAQuestionOfRoomWhereverTheCommandFails)
{
    const struct {
        const char* name;
        bool rename;
        int error;
    } cases[] = {
        {"rename, disk full", true, ENOSPC},
        {"take down, disk full", false, ENOSPC},
        {"rename, quota reached", true, EDQUOT},
        {"take down, quota reached", false, EDQUOT},
    };
    for (const auto& c : cases) {
        QTemporaryDir folder;
        testing::DataRootBuilder builder(folder.path());
        const QUuid id = builder.addMaterial("text").id;
        builder.writeState();
        auto files = std::make_shared<FaultInjectingFileOperations>(SystemFileOperations::shared());
        MaterialStore store(builder.rootURL(), files, StorageBudget{1 << 20, 1 << 24, 0});
        store.load().waitForFinished();

        // The first write of the command, whichever it is, finds the disk full.
        files->reset();
        files->setFilter([](FileOperation operation, const QUrl&) {
            return operation == FileOperation::writeAtomic || operation == FileOperation::copy
                || operation == FileOperation::move || operation == FileOperation::createDirectory;
        });
        files->failCall(1, c.error);
        const MaterialCommand command = c.rename ? MaterialCommand::renameMaterial(id, QStringLiteral("renamed"))
                                                 : MaterialCommand::takeDown(id);
        std::exception_ptr failure;
        try {
            store.apply(command, 100).waitForFinished();
        } catch (...) {
            failure = std::current_exception();
        }
        ASSERT_TRUE(failure) << c.name;
        expectFeedback(failure, MessageKey::feedbackCapacity, Kind::capacity, c.name);
    }
}

} // namespace
} // namespace tolvex
