#include "core/TramePool.h"

#include <algorithm>
#include <new>

namespace {

// A record whose payload was large is let go rather than kept with its buffer.
constexpr std::size_t kMaxKeptPayload = 1024;

std::size_t PooledBytes(const TTrameTCP& trame) {
  return sizeof(TTrameTCP) + trame.Data.capacity();
}

}  // namespace

void TTramePool::Release(std::vector<TPileItem>& items) {
  {
    std::lock_guard guard(FLock);
    try {
      for (TPileItem& item : items) {
        if (!item.Trame || item.Trame->Data.capacity() > kMaxKeptPayload) continue;
        const std::size_t cost = PooledBytes(*item.Trame);
        if (FBytes + cost > FByteLimit) break;
        FRecords.push_back(std::move(item.Trame));
        FBytes += cost;
      }
    } catch (const std::bad_alloc&) {
      // Nothing is lost: what could not be kept is deleted below.
    }
  }
  items.clear();  // deletes what was not kept, outside the lock
}

void TTramePool::Take(std::vector<std::unique_ptr<TTrameTCP>>& out, std::size_t max) {
  std::lock_guard guard(FLock);
  const std::size_t count = std::min(max, FRecords.size());
  out.reserve(out.size() + count);
  for (std::size_t i = 0; i < count; ++i) {
    FBytes -= PooledBytes(*FRecords.back());
    out.push_back(std::move(FRecords.back()));
    FRecords.pop_back();
  }
}
