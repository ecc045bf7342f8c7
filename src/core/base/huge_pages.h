#pragma once

// Large pixel blocks in huge pages where the system offers them: touching
// such a block the first time then costs a few page faults per 2 MB
// instead of one per 4 KB.

#include <cstddef>
#include <cstdint>

#include <sys/mman.h>

namespace sw {

inline constexpr size_t kHugePage = size_t(2) << 20;
// Below this a block is not worth the advice.
inline constexpr size_t kHugePagesFrom = size_t(8) << 20;

// Advises the whole huge pages inside bytes .. bytes + count; only a hint,
// so a system without them, or a refusal, changes nothing.
inline void AdviseHugePages(void* bytes, size_t count)
{
#ifdef MADV_HUGEPAGE
    if (count < kHugePagesFrom)
        return;
    const uintptr_t start = reinterpret_cast<uintptr_t>(bytes);
    const uintptr_t from = (start + kHugePage - 1) & ~uintptr_t(kHugePage - 1);
    const uintptr_t to = (start + count) & ~uintptr_t(kHugePage - 1);
    if (to > from)
        ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#else
    (void)bytes;
    (void)count;
#endif
}

} // namespace sw
