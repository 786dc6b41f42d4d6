#include "TolvexCore/Files/OpenFile.h"

#include "TolvexCore/Files/PosixFile.h"

namespace tolvex {

int OpenFile::descriptor() const
{
    return file_ ? file_->fd() : -1;
}

} // namespace tolvex
