#pragma once

// The window's controller driven as a front end drives it, through a view that keeps plain
// strings: the lines appended, the errors shown, the run state, the next drain asked for.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "ui/MainController.h"

struct TFront : TMainView {
  explicit TFront(TCaptureServices services,
                  std::size_t queue_bytes = TPileTrameTCP::kDefaultByteLimit)
      : Controller(*this, std::move(services), queue_bytes) {}

  std::vector<std::string> Lines;
  std::vector<std::string> Errors;
  std::size_t LinesBeforeError = 0;  // of the first error
  std::uint64_t Room = std::uint64_t{1} << 30;
  TDisplayOptions Options = PayloadOnly();
  TStartTexts Texts{"10.0.0.1", true, "0", "0"};
  bool ShownRunning = false;
  TNextDrain Next = TNextDrain::Tick;
  TMainController Controller;  // last: it uses the view

  static TDisplayOptions PayloadOnly() {
    TDisplayOptions options;
    options.ShowDate = options.ShowAddresses = options.ShowFlags = false;
    return options;
  }

  TStartTexts StartTexts() const override { return Texts; }
  TDisplayOptions DisplayOptions() const override { return Options; }
  // As a log view takes them: whole, in order, while they fit.
  std::size_t AppendLines(std::span<const std::string> lines) override {
    std::size_t taken = 0;
    for (; taken < lines.size() && lines[taken].size() + 1 <= Room; ++taken) {
      Room -= lines[taken].size() + 1;
      Lines.push_back(lines[taken]);
    }
    return taken;
  }
  void ShowRunning(bool running) override { ShownRunning = running; }
  void DrainAgain(TNextDrain next) override { Next = next; }
  void ShowError(const std::string& message) override {
    if (Errors.empty()) LinesBeforeError = Lines.size();
    Errors.push_back(message);
  }

  void Click() { Controller.Btn_StartStopClick(); }
  TNextDrain Tick() {
    Controller.TimerInDataTimer();
    return Next;
  }
  // Drains as the event loop would until nothing is due before the next tick.
  void Settle() {
    for (TNextDrain next = Tick(); next != TNextDrain::Tick; next = Tick()) {
      if (next == TNextDrain::Soon) std::this_thread::sleep_for(TMainController::kSoon);
    }
  }
  void Queue(const std::string& payload) {
    auto trame = std::make_unique<TTrameTCP>();
    trame->Drapeaux = TDrapeauxTCP(2);  // ACK
    trame->Data = payload;
    Controller.Pile()->Push(std::move(trame));
  }
};
