// Makes one allocation of the keyed value store fail, for the out-of-memory paths.
#pragma once

#include "h2mon/common/kvmem.h"

#include <cstdlib>

// While in scope, the store's nth allocation from now (1: the next one) returns
// null; all others succeed.
class FailingAllocation {
public:
    explicit FailingAllocation(int nth) {
        countdown() = nth;
        previous = kv_set_allocator(&allocate);
    }
    ~FailingAllocation() { kv_set_allocator(previous); }
    FailingAllocation(const FailingAllocation&) = delete;
    FailingAllocation& operator=(const FailingAllocation&) = delete;

    // True once the failure has happened.
    static bool failed() { return countdown() <= 0; }

private:
    static int& countdown() {
        static int remaining = 0;
        return remaining;
    }
    static void* allocate(std::size_t size) {
        return --countdown() == 0 ? nullptr : std::calloc(1, size);
    }
    KvAllocator previous;
};
