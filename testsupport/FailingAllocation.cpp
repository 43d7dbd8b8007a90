#include "testsupport/FailingAllocation.h"

#include <cstdlib>
#include <new>

namespace {

constexpr std::size_t kMaxRecorded = 512;

thread_local std::size_t t_failing_size = 0;
thread_local std::size_t t_failing_from = 0;
thread_local bool t_recording = false;
thread_local std::size_t t_recorded[kMaxRecorded];
thread_local std::size_t t_recorded_count = 0;

}  // namespace

void FailNextAllocationOfSize(std::size_t size) {
  t_failing_size = size;
}

void FailAllocationsOfAtLeast(std::size_t size) {
  t_failing_from = size;
}

std::vector<std::size_t> AllocationSizesDuring(const std::function<void()>& work) {
  t_recorded_count = 0;
  t_recording = true;
  work();
  t_recording = false;
  return {t_recorded, t_recorded + t_recorded_count};
}

void* operator new(std::size_t size) {
  if (size != 0 && size == t_failing_size) {
    t_failing_size = 0;
    throw std::bad_alloc();
  }
  if (t_failing_from != 0 && size >= t_failing_from) throw std::bad_alloc();
  if (t_recording && t_recorded_count < kMaxRecorded) t_recorded[t_recorded_count++] = size;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}

void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
