// The test program's own operator new and delete, over malloc and free, so
// that one chosen allocation can fail. Every form is replaced, the nothrow
// ones too, so that no allocation comes from a runtime's own allocator
// (a sanitizer's, say) and is then freed here.
#include "tests/support/failing_new.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long> gLeft{-1};  // allocations before the one that fails; -1: none fails
std::atomic<bool> gFailed{false};

void* allocate(std::size_t size) {
    long left = gLeft.load();
    while (left >= 0 && !gLeft.compare_exchange_weak(left, left - 1)) {
    }
    if (left == 0) {
        gFailed = true;
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}

}  // namespace

namespace headlink::testing {

void failAllocation(long n) {
    gFailed = false;
    gLeft = n;
}

bool allocationFailed() {
    gLeft = -1;
    return gFailed.load();
}

}  // namespace headlink::testing

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
