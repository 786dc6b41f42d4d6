#include "TolvexCore/Content/OpenFile.h"

#include "TolvexCore/Content/PosixFile.h"

namespace tolvex {

int OpenFile::descriptor() const
{
    return file_ ? file_->fd() : -1;
}

} // namespace tolvex
