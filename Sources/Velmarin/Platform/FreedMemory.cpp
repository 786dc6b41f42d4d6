#include "Velmarin/Platform/FreedMemory.h"

#include <malloc.h>

namespace tolvex {

void releaseFreedMemory()
{
    ::malloc_trim(0);
}

} // namespace tolvex
