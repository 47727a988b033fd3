#include "AllocationFailure.h"

#include <cstdlib>
#include <new>

namespace {

// Allocations left before the one that fails; negative: none fails.
thread_local long AllocationsBeforeFailure = -1;
thread_local bool FailureFired = false;

void* Allocate(std::size_t Size) {
    if (AllocationsBeforeFailure >= 0 && AllocationsBeforeFailure-- == 0) {
        FailureFired = true;
        throw std::bad_alloc();
    }
    if (void* P = std::malloc(Size != 0 ? Size : 1))
        return P;
    throw std::bad_alloc();
}

} // namespace

namespace kds::test {

TAllocationFailure::TAllocationFailure(long FailAt) {
    FailureFired = false;
    AllocationsBeforeFailure = FailAt;
}

TAllocationFailure::~TAllocationFailure() {
    AllocationsBeforeFailure = -1;
}

bool TAllocationFailure::Fired() const {
    return FailureFired;
}

} // namespace kds::test

// Every replaceable global form goes through the same malloc and free: a
// sanitizer's own nothrow or array form would otherwise pair with the free
// below (std::stable_sort takes its buffer with the nothrow form).
void* operator new(std::size_t Size) {
    return Allocate(Size);
}

void* operator new[](std::size_t Size) {
    return Allocate(Size);
}

void* operator new(std::size_t Size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(Size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void* operator new[](std::size_t Size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(Size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void operator delete(void* Memory) noexcept {
    std::free(Memory);
}

void operator delete[](void* Memory) noexcept {
    std::free(Memory);
}

void operator delete(void* Memory, std::size_t) noexcept {
    std::free(Memory);
}

void operator delete[](void* Memory, std::size_t) noexcept {
    std::free(Memory);
}

void operator delete(void* Memory, const std::nothrow_t&) noexcept {
    std::free(Memory);
}

void operator delete[](void* Memory, const std::nothrow_t&) noexcept {
    std::free(Memory);
}
