#pragma once

#include <cstddef>

// Makes the next allocation of exactly `size` bytes on the calling thread throw
// std::bad_alloc. Linking FailingAllocation.cpp replaces the global operator new.
void FailNextAllocationOfSize(std::size_t size);
