#include "AllocationCounter.h"

#include <cerrno>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define LUMIRO_COUNT_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) ||                         \
    __has_feature(memory_sanitizer)
#define LUMIRO_COUNT_ALLOCATIONS 0
#endif
#endif

#if !defined(LUMIRO_COUNT_ALLOCATIONS) && defined(__GLIBC__)
#define LUMIRO_COUNT_ALLOCATIONS 1
#endif

#ifndef LUMIRO_COUNT_ALLOCATIONS
#define LUMIRO_COUNT_ALLOCATIONS 0
#endif

namespace
{
// Plain thread-locals with constant initialisation: reading them allocates nothing.
thread_local bool counting = false;
thread_local std::size_t allocationCount = 0;
thread_local std::size_t freeCount = 0;

#if LUMIRO_COUNT_ALLOCATIONS
inline void noteAllocation()
{
    if (counting)
        ++allocationCount;
}

inline void noteFree(const void* p)
{
    if (counting && p != nullptr)
        ++freeCount;
}
#endif
} // namespace

namespace allocation_counter
{
bool isAvailable()
{
    return LUMIRO_COUNT_ALLOCATIONS != 0;
}

Scope::Scope() : wasCounting(counting), before{allocationCount, freeCount}
{
    counting = true;
}

Scope::~Scope()
{
    counting = wasCounting;
}

Counts Scope::counts() const
{
    return {allocationCount - before.allocations, freeCount - before.frees};
}
} // namespace allocation_counter

#if LUMIRO_COUNT_ALLOCATIONS

// glibc's own entry points; the replacements below forward to them, so every
// block still comes from and returns to the same allocator. The framework's
// audio buffers allocate through malloc/calloc/realloc, the standard library
// through operator new, so both families are counted.
extern "C"
{
    void* __libc_malloc(std::size_t);
    void* __libc_calloc(std::size_t, std::size_t);
    void* __libc_realloc(void*, std::size_t);
    void* __libc_memalign(std::size_t, std::size_t);
    void __libc_free(void*);

    void* malloc(std::size_t size)
    {
        noteAllocation();
        return __libc_malloc(size);
    }

    void* calloc(std::size_t count, std::size_t size)
    {
        noteAllocation();
        return __libc_calloc(count, size);
    }

    void* realloc(void* p, std::size_t size)
    {
        noteAllocation();
        return __libc_realloc(p, size);
    }

    void* memalign(std::size_t alignment, std::size_t size)
    {
        noteAllocation();
        return __libc_memalign(alignment, size);
    }

    void* aligned_alloc(std::size_t alignment, std::size_t size)
    {
        noteAllocation();
        return __libc_memalign(alignment, size);
    }

    int posix_memalign(void** result, std::size_t alignment, std::size_t size)
    {
        noteAllocation();
        if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0)
            return EINVAL;
        void* p = __libc_memalign(alignment, size);
        if (p == nullptr)
            return ENOMEM;
        *result = p;
        return 0;
    }

    void free(void* p)
    {
        noteFree(p);
        __libc_free(p);
    }
}

namespace
{
void* allocateOrThrow(std::size_t size)
{
    noteAllocation();
    if (void* p = __libc_malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}

void* allocateAlignedOrThrow(std::size_t size, std::align_val_t alignment)
{
    noteAllocation();
    if (void* p = __libc_memalign(static_cast<std::size_t>(alignment), size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}

void release(void* p) noexcept
{
    noteFree(p);
    __libc_free(p);
}
} // namespace

void* operator new(std::size_t size)
{
    return allocateOrThrow(size);
}
void* operator new[](std::size_t size)
{
    return allocateOrThrow(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    noteAllocation();
    return __libc_malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    noteAllocation();
    return __libc_malloc(size == 0 ? 1 : size);
}
void* operator new(std::size_t size, std::align_val_t alignment)
{
    return allocateAlignedOrThrow(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment)
{
    return allocateAlignedOrThrow(size, alignment);
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    noteAllocation();
    return __libc_memalign(static_cast<std::size_t>(alignment), size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept
{
    noteAllocation();
    return __libc_memalign(static_cast<std::size_t>(alignment), size == 0 ? 1 : size);
}

void operator delete(void* p) noexcept
{
    release(p);
}
void operator delete[](void* p) noexcept
{
    release(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    release(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept
{
    release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept
{
    release(p);
}
void operator delete(void* p, std::align_val_t) noexcept
{
    release(p);
}
void operator delete[](void* p, std::align_val_t) noexcept
{
    release(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept
{
    release(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept
{
    release(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept
{
    release(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept
{
    release(p);
}

#endif
