#include "Velmarin/Presentation/PlatformErrorForm.h"

#include <QException>

#include <array>
#include <cerrno>
#include <string_view>

namespace tolvex {

namespace {

bool isWriteOperation(std::string_view message)
{
    static constexpr std::array<std::string_view, 8> writers{
        "createDirectory", "copy", "move", "writeAtomic", "trash", "write", "remove", "rename"};
    const std::string_view operation = message.substr(0, message.find(' '));
    for (std::string_view writer : writers) {
        if (operation == writer)
            return true;
    }
    return false;
}

} // namespace

PlatformErrorForm PlatformErrorForm::of(const std::system_error& error)
{
    if (error.code().category() != std::generic_category() && error.code().category() != std::system_category())
        return {};
    const bool writing = isWriteOperation(error.what());
    switch (error.code().value()) {
    case EACCES:
    case EPERM:
    case EROFS:
        return {Domain::fileManager, writing ? writeNoPermission : readNoPermission};
    case ENOENT:
        return {Domain::fileManager, writing ? noSuchFile : readNoSuchFile};
    case ENOSPC:
    case EDQUOT:
        return {Domain::fileManager, writeOutOfSpace};
    default:
        return {};
    }
}

PlatformErrorForm PlatformErrorForm::of(std::exception_ptr error)
{
    if (!error)
        return {};
    try {
        std::rethrow_exception(error);
    } catch (const QUnhandledException& wrapper) {
        return of(wrapper.exception());
    } catch (const std::system_error& systemError) {
        return of(systemError);
    } catch (...) {
        return {};
    }
}

} // namespace tolvex
