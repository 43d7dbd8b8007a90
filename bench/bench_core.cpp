// Throughput of the capture core on one thread: decoding, line composition and the queue,
// each beside a plain baseline where one fits.
#include <benchmark/benchmark.h>

#include <cstring>
#include <deque>
#include <thread>

#include "core/CaptureStream.h"
#include "core/DecodeDatagram.h"
#include "core/TramePool.h"
#include "core/UnitPileTrame.h"
#include "testsupport/DatagramFixtures.h"
#include "ui/LineComposition.h"

namespace {

std::vector<std::uint8_t> Datagram(std::size_t payload_size, std::uint8_t protocol = 6) {
  TDatagramShape shape = WithPayload(std::string(payload_size, 'q'));
  shape.Protocol = protocol;
  shape.DataOffset = 8;  // timestamps, as on most real segments
  return BuildDatagram(shape);
}

void BM_DecodeRejectedByProtocol(benchmark::State& state) {
  const auto bytes = Datagram(1460, 17);
  for (auto _ : state)
    benchmark::DoNotOptimize(DecodeDatagram(bytes, 1, 65535));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodeRejectedByProtocol);

void BM_DecodeRejectedByPortRange(benchmark::State& state) {
  const auto bytes = Datagram(1460);
  for (auto _ : state)
    benchmark::DoNotOptimize(DecodeDatagram(bytes, 443, 443));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodeRejectedByPortRange);

void BM_DecodeRetained(benchmark::State& state) {
  const auto bytes = Datagram(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state)
    benchmark::DoNotOptimize(DecodeDatagram(bytes, 1, 65535));
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_DecodeRetained)->Arg(0)->Arg(1460);

std::vector<std::uint8_t> Datagram6(std::size_t payload_size,
                                    std::vector<TExtensionHeader> extensions = {}) {
  TDatagram6Shape shape = With6Payload(std::string(payload_size, 'q'));
  shape.DataOffset = 8;
  shape.Source = {0x20, 0x01, 0x0d, 0xb8, 0x12, 0x34, 0, 0, 0, 0, 0, 0, 0xab, 0xcd, 0, 0x2};
  shape.Dest = {0x20, 0x01, 0x0d, 0xb8, 0x12, 0x34, 0, 0, 0, 0, 0, 0, 0xab, 0xcd, 0, 0x1};
  shape.Extensions = std::move(extensions);
  return BuildDatagram6(shape);
}

void BM_Decode6Retained(benchmark::State& state) {
  const auto bytes = Datagram6(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state)
    benchmark::DoNotOptimize(DecodeDatagram(bytes, 1, 65535));
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_Decode6Retained)->Arg(0)->Arg(1460);

// Through a hop-by-hop and a destination options header.
void BM_Decode6RetainedAfterExtensions(benchmark::State& state) {
  const auto bytes =
      Datagram6(0, {Extension(kNextHopByHop, 8), Extension(kNextDestinationOptions, 16)});
  for (auto _ : state)
    benchmark::DoNotOptimize(DecodeDatagram(bytes, 1, 65535));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Decode6RetainedAfterExtensions);

void BM_Decode6RejectedByPortRange(benchmark::State& state) {
  const auto bytes = Datagram6(1460);
  for (auto _ : state)
    benchmark::DoNotOptimize(DecodeDatagram(bytes, 443, 443));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Decode6RejectedByPortRange);

// Baseline: copying the datagram's bytes into a fresh string, as the decoder's payload does.
void BM_BaselineMemcpy(benchmark::State& state) {
  const auto bytes = Datagram(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::string copy(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    benchmark::DoNotOptimize(copy);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_BaselineMemcpy)->Arg(0)->Arg(1460);

void BM_ComposeLineAllColumns(benchmark::State& state) {
  SetDateTimeSeparators("/", ":");
  const auto trame = DecodeDatagram(Datagram(100), 1, 65535);
  const TDisplayOptions options;
  for (auto _ : state)
    benchmark::DoNotOptimize(ComposeLine(*trame, options));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ComposeLineAllColumns);

void BM_ComposeLine6AllColumns(benchmark::State& state) {
  SetDateTimeSeparators("/", ":");
  const auto trame = DecodeDatagram(Datagram6(100), 1, 65535);
  const TDisplayOptions options;
  for (auto _ : state)
    benchmark::DoNotOptimize(ComposeLine(*trame, options));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ComposeLine6AllColumns);

// Baseline: a copy of a string as long as the composed line.
void BM_BaselineLineCopy(benchmark::State& state) {
  const std::string line(188, 'l');
  for (auto _ : state) {
    std::string copy = line;
    benchmark::DoNotOptimize(copy);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BaselineLineCopy);

void BM_PileUncontendedPushPop(benchmark::State& state) {
  TPileTrameTCP pile;
  auto trame = std::make_unique<TTrameTCP>();
  for (auto _ : state) {
    pile.Push(std::move(trame));
    trame = pile.Pop().Trame;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PileUncontendedPushPop);

// Baseline: the same pair on a bare deque, without the lock.
void BM_BaselineDequePushPop(benchmark::State& state) {
  std::deque<std::unique_ptr<TTrameTCP>> deque;
  auto trame = std::make_unique<TTrameTCP>();
  for (auto _ : state) {
    deque.push_back(std::move(trame));
    trame = std::move(deque.front());
    deque.pop_front();
    benchmark::DoNotOptimize(trame.get());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BaselineDequePushPop);

// One Pop (and the Push that keeps the size steady) with range(0) records queued.
void BM_PilePopWithQueued(benchmark::State& state) {
  TPileTrameTCP pile;
  for (std::int64_t i = 0; i < state.range(0); ++i)
    pile.Push(std::make_unique<TTrameTCP>());
  for (auto _ : state)
    pile.Push(pile.Pop().Trame);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PilePopWithQueued)->Arg(1000)->Arg(1'000'000);

// One producer thread allocating and pushing, one consumer popping and releasing, one record
// at a time or (range(1)) in batches of that size, as the capture thread and the window do.
void BM_PileProducerConsumer(benchmark::State& state) {
  const auto total = static_cast<std::int64_t>(state.range(0));
  const auto batch = static_cast<std::size_t>(state.range(1));
  for (auto _ : state) {
    TPileTrameTCP pile;
    std::thread producer([&] {
      std::vector<TPileItem> items;
      for (std::int64_t i = 0; i < total; ++i) {
        if (batch <= 1) {
          pile.Push(std::make_unique<TTrameTCP>());
          continue;
        }
        items.push_back({std::make_unique<TTrameTCP>(), 0});
        if (items.size() == batch || i + 1 == total) {
          std::size_t pushed = 0;
          pile.PushBatch(items, pushed);
          items.clear();
        }
      }
    });
    std::int64_t received = 0;
    std::vector<TPileItem> items;
    while (received < total) {
      if (batch <= 1) {
        if (pile.Pop()) ++received;
        continue;
      }
      items.clear();
      received += static_cast<std::int64_t>(pile.PopBatch(items, batch));
    }
    producer.join();
  }
  state.SetItemsProcessed(state.iterations() * total);
}
BENCHMARK(BM_PileProducerConsumer)
    ->Args({10'000'000, 1})
    ->Args({10'000'000, 1024})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// The window's side of the capture path, on one thread: a batch of the helper's stream read,
// each datagram decoded into a released record, the batch pushed, popped and released again,
// as the capture thread and the drain do; no pipe, no helper.
void BM_WindowPathPerSegment(benchmark::State& state) {
  TDatagramShape shape = WithPayload(std::string(64, 'f'));
  const std::vector<std::uint8_t> datagram = BuildDatagram(shape);
  TCaptureStreamWriter writer;
  writer.Hello();
  writer.Step(TCaptureStep::Open);
  writer.Step(TCaptureStep::Bind);
  writer.Step(TCaptureStep::ReceiveAll);
  const std::size_t steps = writer.Size();
  constexpr int kBatch = 1024;
  for (int i = 0; i < kBatch; ++i)
    writer.Datagram(1'796'616'631'250'000 + i, datagram);
  const std::span<const std::uint8_t> stream = writer.Bytes();
  TPileTrameTCP pile;
  TTramePool pool;
  std::vector<TPileItem> items, taken;
  std::vector<std::unique_ptr<TTrameTCP>> blank;
  std::vector<TReceived> batch;
  for (auto _ : state) {
    TCaptureStreamReader reader;
    std::size_t offset = 0;
    reader.Next(stream.first(steps), offset);
    reader.Next(stream.first(steps), offset);
    reader.Next(stream.first(steps), offset);
    pool.Take(blank, kBatch);
    items.clear();
    batch.clear();
    reader.TakeDatagrams(stream, offset, batch, kBatch);
    for (const TReceived& received : batch) {
      // As the capture thread asks of each entry.
      if (received.Dropped != 0 || !received.Notice.empty()) [[unlikely]] {
        if (!received.Notice.empty())
          items.push_back({nullptr, 0, std::make_unique<std::string>(received.Notice)});
        if (received.Dropped != 0) items.push_back({nullptr, received.Dropped});
      }
      if (received.Datagram.empty()) continue;
      if (blank.empty()) blank.push_back(std::make_unique<TTrameTCP>());
      if (DecodeDatagram(received.Datagram, 1, 65535, received.UnixMicroseconds, *blank.back()) !=
          TDecodeResult::Filled)
        continue;
      items.push_back({std::move(blank.back()), 0});
      blank.pop_back();
    }
    std::size_t pushed = 0;
    pile.PushBatch(items, pushed);
    taken.clear();
    pile.PopBatch(taken, kBatch);
    pool.Release(taken);
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_WindowPathPerSegment);

}  // namespace

BENCHMARK_MAIN();
