#pragma once

// The window's controller driven as a front end drives it: the lines it returns are appended
// to a log of plain strings, its errors kept, its next drain honoured.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "ui/MainController.h"

// The controller as a front end drives it: what it returns is appended or shown.
struct TFront {
  explicit TFront(TCaptureServices services) : Controller(std::move(services)) {}

  TMainController Controller;
  std::vector<std::string> Lines;
  std::vector<std::string> Errors;
  std::size_t LinesBeforeError = 0;  // of the first error
  std::uint64_t Room = std::uint64_t{1} << 30;
  TDisplayOptions Options = PayloadOnly();
  TStartTexts Texts{"10.0.0.1", true, "0", "0"};

  static TDisplayOptions PayloadOnly() {
    TDisplayOptions options;
    options.ShowDate = options.ShowAddresses = options.ShowFlags = false;
    return options;
  }

  using TNext = TDrainResult::TNext;

  TNext Apply(const TDrainResult& result) {
    for (const std::string& line : result.Lines) {
      EXPECT_LE(line.size() + 1, Room) << "the controller overfilled the view";
      Room -= std::min<std::uint64_t>(Room, line.size() + 1);
      Lines.push_back(line);
    }
    if (!result.Error.empty()) {
      if (Errors.empty()) LinesBeforeError = Lines.size();
      Errors.push_back(result.Error);
    }
    return result.Next;
  }
  void Click() { Apply(Controller.StartStop(Texts, Options, Room)); }
  TNext Tick() { return Apply(Controller.Drain(Options, Room)); }
  // Drains as the event loop would until nothing is due before the next tick.
  void Settle() {
    for (TNext next = Tick(); next != TNext::Tick; next = Tick()) {
      if (next == TNext::Soon) std::this_thread::sleep_for(TMainController::kSoon);
    }
  }
  void Queue(const std::string& payload) {
    auto trame = std::make_unique<TTrameTCP>();
    trame->Drapeaux = TDrapeauxTCP(2);  // ACK
    trame->Data = payload;
    Controller.Pile()->Push(std::move(trame));
  }
};
