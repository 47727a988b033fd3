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

// The replaceable global forms; the array and nothrow forms of the standard
// library call these.
void* operator new(std::size_t Size) {
    return Allocate(Size);
}

void operator delete(void* Memory) noexcept {
    std::free(Memory);
}

void operator delete(void* Memory, std::size_t) noexcept {
    std::free(Memory);
}
