#pragma once

#include <cstddef>
#include <functional>
#include <vector>

// Linking FailingAllocation.cpp replaces the global operator new.

// Makes the next allocation of exactly `size` bytes on the calling thread throw
// std::bad_alloc.
void FailNextAllocationOfSize(std::size_t size);
// Makes every allocation of `size` bytes or more on the calling thread throw std::bad_alloc,
// until called again with 0.
void FailAllocationsOfAtLeast(std::size_t size);

// The sizes of the allocations `work` makes on the calling thread, in order (the first few
// hundred), so that a test learns what this C++ library allocates instead of assuming it.
std::vector<std::size_t> AllocationSizesDuring(const std::function<void()>& work);
