#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ScriptedCaptureLayer.h"
#include "ui/MainController.h"

// The window's services over a scripted capture layer, on a host with the given addresses.
inline TCaptureServices ScriptedServices(std::shared_ptr<TCaptureScript> script,
                                         std::vector<std::string> host = {"10.0.0.1"}) {
  return {[script] { return std::make_unique<TScriptedCaptureLayer>(script); },
          [host] { return host; }};
}
