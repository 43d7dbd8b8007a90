#include "capture/UnitPileTrame.h"

#include <algorithm>
#include <limits>
#include <new>
#include <utility>

namespace {

// Enough records to carry a flood between two ticks; a record whose payload was large is let
// go rather than kept with its buffer.
constexpr std::size_t kMaxReleased = 1 << 16;
constexpr std::size_t kMaxKeptPayload = 1024;

}  // namespace

TPileTrameTCP::~TPileTrameTCP() {
  Clear();
}

std::int32_t TPileTrameTCP::Count() {
  std::lock_guard guard(FList.Lock);
  const auto size = FList.Items.size();
  constexpr auto kMax = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
  return static_cast<std::int32_t>(size < kMax ? size : kMax);
}

void TPileTrameTCP::Push(std::unique_ptr<TTrameTCP> trame) {
  if (!trame) return;
  std::lock_guard guard(FList.Lock);
  FList.Items.push_back({std::move(trame), 0});
}

void TPileTrameTCP::PushDropped(std::uint64_t count) {
  if (count == 0) return;
  std::lock_guard guard(FList.Lock);
  FList.Items.push_back({nullptr, count});
}

void TPileTrameTCP::PushBatch(std::span<TPileItem> items, std::size_t& pushed) {
  std::lock_guard guard(FList.Lock);
  for (; pushed < items.size(); ++pushed) {
    if (items[pushed]) FList.Items.push_back(std::move(items[pushed]));  // strong guarantee
  }
}

TPileItem TPileTrameTCP::Pop() {
  std::lock_guard guard(FList.Lock);
  if (FList.Items.empty()) return {};
  TPileItem front = std::move(FList.Items.front());
  FList.Items.pop_front();
  return front;
}

std::size_t TPileTrameTCP::PopBatch(std::vector<TPileItem>& out, std::size_t max) {
  std::lock_guard guard(FList.Lock);
  const std::size_t count = std::min(max, FList.Items.size());
  const auto end = FList.Items.begin() + static_cast<std::ptrdiff_t>(count);
  out.insert(out.end(), std::make_move_iterator(FList.Items.begin()),
             std::make_move_iterator(end));
  FList.Items.erase(FList.Items.begin(), end);
  return count;
}

void TPileTrameTCP::Clear() {
  std::deque<TPileItem> queued;
  std::vector<std::unique_ptr<TTrameTCP>> released;
  {
    std::lock_guard guard(FList.Lock);
    queued.swap(FList.Items);
    released.swap(FList.Released);
  }
}

void TPileTrameTCP::Release(std::vector<TPileItem>& items) {
  {
    std::lock_guard guard(FList.Lock);
    std::size_t room =
        kMaxReleased > FList.Released.size() ? kMaxReleased - FList.Released.size() : 0;
    try {
      for (TPileItem& item : items) {
        if (room == 0) break;
        if (!item.Trame || item.Trame->Data.capacity() > kMaxKeptPayload) continue;
        FList.Released.push_back(std::move(item.Trame));
        --room;
      }
    } catch (const std::bad_alloc&) {
      // Nothing is lost: what could not be kept is deleted below.
    }
  }
  items.clear();  // deletes what was not kept, outside the lock
}

void TPileTrameTCP::TakeReleased(std::vector<std::unique_ptr<TTrameTCP>>& out, std::size_t max) {
  std::lock_guard guard(FList.Lock);
  const std::size_t count = std::min(max, FList.Released.size());
  const auto first = FList.Released.end() - static_cast<std::ptrdiff_t>(count);
  out.insert(out.end(), std::make_move_iterator(first),
             std::make_move_iterator(FList.Released.end()));
  FList.Released.erase(first, FList.Released.end());
}
