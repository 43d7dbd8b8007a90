#include "FailingAllocation.h"

#include <cstdlib>
#include <new>

namespace {
thread_local std::size_t t_failing_size = 0;
}

void FailNextAllocationOfSize(std::size_t size) {
  t_failing_size = size;
}

void* operator new(std::size_t size) {
  if (size != 0 && size == t_failing_size) {
    t_failing_size = 0;
    throw std::bad_alloc();
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}

void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
