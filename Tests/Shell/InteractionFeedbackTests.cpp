#include "TolvexCore/Model/StoreError.h"
#include "Velmarin/Shell/InteractionFeedback.h"
#include "Velmarin/Shell/PlatformErrorForm.h"

#include <QException>

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
    };
    static_assert(std::size(cases) == 11, "every case of StoreError");
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
        {ENOSPC, "writeAtomic /x", 0, MessageKey::feedbackRecovery, Kind::recovery},
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

} // namespace
} // namespace tolvex
