#include "Platform/MemoryUse.h"

#include <malloc.h>

#include <mutex>

namespace platform {

void tuneAllocator()
{
    static std::once_flag once;
    // A fixed threshold also stops glibc from raising it after each large
    // free, which would move tile-sized blocks back into the arenas, where the
    // memory of a block freed by another thread stays with the worker's arena.
    std::call_once(once, [] { mallopt(M_MMAP_THRESHOLD, 256 * 1024); });
}

void releaseFreedMemory() { malloc_trim(0); }

} // namespace platform
