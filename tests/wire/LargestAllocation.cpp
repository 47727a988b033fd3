#include "LargestAllocation.h"

#include <atomic>
#include <cstdlib>
#include <new>

// The replacement pairs malloc with free on purpose; GCC misreads the
// inlined pair as mismatched.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
std::atomic<bool> Watching{false};
std::atomic<size_t> LargestSeen{0};

void* Allocate(size_t Size) {
    if (Watching.load(std::memory_order_relaxed)) {
        size_t Seen = LargestSeen.load(std::memory_order_relaxed);
        while (Size > Seen && !LargestSeen.compare_exchange_weak(Seen, Size)) {
        }
    }
    if (void* P = std::malloc(Size ? Size : 1))
        return P;
    throw std::bad_alloc();
}
} // namespace

void* operator new(size_t Size) {
    return Allocate(Size);
}
void* operator new[](size_t Size) {
    return Allocate(Size);
}
void operator delete(void* P) noexcept {
    std::free(P);
}
void operator delete[](void* P) noexcept {
    std::free(P);
}
void operator delete(void* P, size_t) noexcept {
    std::free(P);
}
void operator delete[](void* P, size_t) noexcept {
    std::free(P);
}

namespace kds::test {

TAllocationWatch::TAllocationWatch() {
    LargestSeen = 0;
    Watching = true;
}

TAllocationWatch::~TAllocationWatch() {
    Watching = false;
}

size_t TAllocationWatch::Largest() const {
    return LargestSeen.load();
}

} // namespace kds::test
