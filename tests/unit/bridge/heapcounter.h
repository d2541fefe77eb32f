// SPDX-License-Identifier: GPL-3.0-or-later
// HeapCounter: counts the heap allocations of this process (operator new and Qt's malloc).
#pragma once

#include <atomic>
#include <cstddef>

// Include in exactly one translation unit of a test program. Under AddressSanitizer the
// sanitizer's allocator reports every allocation to a hook; otherwise the program's own
// malloc, calloc and realloc stand in front of the C library's (which allows it), and
// operator new reaches them too.
namespace HeapCounter {
inline std::atomic<long> allocations{0};
inline long count() { return allocations.load(std::memory_order_relaxed); }
} // namespace HeapCounter

#if defined(__SANITIZE_ADDRESS__)
extern "C" int __sanitizer_install_malloc_and_free_hooks(
    void (*onMalloc)(const volatile void *, std::size_t), void (*onFree)(const volatile void *));

namespace HeapCounter {
inline void onMalloc(const volatile void *, std::size_t)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
}
inline void onFree(const volatile void *) {}
inline const bool installed = __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree) != 0;
} // namespace HeapCounter
#else
extern "C" {
void *__libc_malloc(std::size_t size);
void *__libc_calloc(std::size_t count, std::size_t size);
void *__libc_realloc(void *block, std::size_t size);

void *malloc(std::size_t size)
{
    HeapCounter::allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
void *calloc(std::size_t count, std::size_t size)
{
    HeapCounter::allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
void *realloc(void *block, std::size_t size)
{
    HeapCounter::allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(block, size);
}
}
#endif
