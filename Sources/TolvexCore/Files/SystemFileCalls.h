#pragma once

// What the operations of SystemFileOperations share: the local path of a
// URL, joined names, a folder's entries, an item's info and the copy of a
// file's contents. Internal to the file layer.

#include "TolvexCore/Files/FileInfo.h"

#include <QUrl>

#include <string>
#include <string_view>
#include <vector>

struct stat;

namespace tolvex {

class PosixFile;

namespace detail {

// The local path of a file URL, without trailing slashes (a trailing slash
// would make lstat and rename follow a link at the end). Anything else is
// refused with EINVAL: the file layer never guesses a relative path's base.
std::string localPath(const QUrl& url, std::string_view operation);

QUrl fileUrl(const std::string& path);

std::string joined(const std::string& folder, const char* name);

// Every entry of an open folder but "." and "..". Takes ownership of `fd`;
// answers 0 or the errno of the failure.
int readEntries(int fd, std::vector<std::string>& names);

FileInfo fileInfoOf(const struct stat& status);

// Copies everything from `source`, read at explicit offsets so that the
// shared descriptor's position neither matters nor moves: in the kernel
// where it can (a reflink or a server-side copy on file systems that offer
// one), by reading and writing otherwise. Answers 0 or an errno.
int copyContentsAt(int source, const PosixFile& destination);

} // namespace detail
} // namespace tolvex
