// The window emptying a queue of 100,000 records into the log view, slice after slice with the
// event loop running between them, beside the cost of composing the same lines alone.
// Run offscreen: QT_QPA_PLATFORM=offscreen bench_drain
#include <QElapsedTimer>
#include <QEventLoop>

#include <chrono>
#include <cstdio>

#include "testsupport/ScriptedServices.h"
#include "ui/qt/Application.h"
#include "ui/qt/UnitMain.h"

namespace {

std::unique_ptr<TTrameTCP> Record(int n) {
  auto trame = std::make_unique<TTrameTCP>();
  trame->Date = std::chrono::duration_cast<std::chrono::microseconds>(
                    std::chrono::system_clock::now().time_since_epoch())
                    .count();
  trame->Source = {"192.168.0.5", 1025};
  trame->Dest = {"10.0.0.1", 80};
  trame->Drapeaux = TDrapeauxTCP(2 | 4);
  trame->Data = "GET /item/" + std::to_string(n) + " HTTP/1.1";
  return trame;
}

}  // namespace

int main(int argc, char** argv) {
  TApplication application(argc, argv);
  constexpr int kRecords = 100'000;
  auto script = std::make_shared<TCaptureScript>();
  TMainForm form(ScriptedServices(script));
  form.show();
  for (int round = 0; round < 5; ++round) {
    const auto& pile = form.Controller().Pile();
    for (int i = 0; i < kRecords; ++i)
      pile->Push(Record(i));
    QElapsedTimer timer;
    timer.start();
    form.TimerInDataTimer();
    int slices = 1;
    while (pile->Count() > 0) {
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
      ++slices;
    }
    const double tick = static_cast<double>(timer.nsecsElapsed()) / 1e6;

    std::vector<std::unique_ptr<TTrameTCP>> records;
    for (int i = 0; i < kRecords; ++i)
      records.push_back(Record(i));
    timer.restart();
    std::size_t characters = 0;
    for (const auto& record : records)
      characters += ComposeLine(*record, {})->size();
    const double compose = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    std::printf(
        "emptying a queue of %d records: %6.1f ms over %d event-loop passes   (composing their "
        "lines "
        "alone: %5.1f ms, %zu characters)\n",
        kRecords, tick, slices, compose, characters);
  }
  return 0;
}
