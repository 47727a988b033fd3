#pragma once

// Makes one allocation fail, to show what an operation does when memory runs
// out. The test binary's global operator new is replaced (in
// AllocationFailure.cpp) by one that allocates with malloc and, while a
// TAllocationFailure is alive on the calling thread, raises std::bad_alloc
// for the allocation it names instead; every other allocation succeeds.

#include <cstddef>
#include <new>

namespace kds::test {

class TAllocationFailure {
public:
    // FailAt 0 fails the next allocation on this thread, 1 the one after...
    explicit TAllocationFailure(long FailAt);
    ~TAllocationFailure();
    TAllocationFailure(const TAllocationFailure&) = delete;
    TAllocationFailure& operator=(const TAllocationFailure&) = delete;

    // Whether the allocation named has been reached (and failed).
    bool Fired() const;
};

// Runs Op with the first, the second, ... allocation failing, until a run
// makes no allocation fail, and calls Check after every run with whether Op
// raised std::bad_alloc. Answers the number of runs that failed.
template <typename TOp, typename TCheck> int ForEachAllocationFailure(TOp&& Op, TCheck&& Check) {
    int Failed = 0;
    for (long FailAt = 0;; ++FailAt) {
        bool Raised = false;
        bool Fired = false;
        {
            TAllocationFailure Failure(FailAt);
            try {
                Op();
            } catch (const std::bad_alloc&) {
                Raised = true;
            }
            Fired = Failure.Fired();
        }
        Check(Raised);
        if (!Fired)
            return Failed;
        ++Failed;
    }
}

} // namespace kds::test
