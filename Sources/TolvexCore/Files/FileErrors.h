#pragma once

#include <system_error>

namespace tolvex {

// The two errors of the file layer that mean "there is no such item": the
// item is missing, or a folder on its way is a file.
inline bool isMissingFileError(const std::error_code& code)
{
    return code == std::errc::no_such_file_or_directory || code == std::errc::not_a_directory;
}

inline bool isMissingFileError(const std::system_error& error)
{
    return isMissingFileError(error.code());
}

} // namespace tolvex
