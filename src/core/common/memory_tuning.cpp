#include "core/common/memory_tuning.hpp"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace tintora {

void keep_freed_frame_memory() {
#if defined(__GLIBC__)
    // Pictures up to 64 MiB come from the heap rather than from mappings of
    // their own, and up to 256 MiB of freed heap stays with the process.
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
#endif
}

}  // namespace tintora
