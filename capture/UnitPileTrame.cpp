#include "capture/UnitPileTrame.h"

#include <algorithm>
#include <limits>
#include <utility>

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
  std::deque<TPileItem> released;
  {
    std::lock_guard guard(FList.Lock);
    released.swap(FList.Items);
  }
}
