#pragma once

// The largest single heap allocation made while a watch is alive (this test
// binary replaces operator new to see them). Used to show that a size a peer
// claims never turns into an allocation of that size.

#include <cstddef>

namespace kds::test {

class TAllocationWatch {
public:
    TAllocationWatch();
    ~TAllocationWatch();
    TAllocationWatch(const TAllocationWatch&) = delete;
    TAllocationWatch& operator=(const TAllocationWatch&) = delete;

    size_t Largest() const;
};

} // namespace kds::test
