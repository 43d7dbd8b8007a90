#pragma once

#include <memory>
#include <string>
#include <vector>

#include "testsupport/ScriptedCaptureLayer.h"
#include "ui/MainController.h"

// The window's services over a scripted capture layer, on a host with the given addresses on
// its interface "eth0" beside loopback, for a window that does not run as root.
inline TCaptureServices ScriptedServices(std::shared_ptr<TCaptureScript> script,
                                         std::vector<std::string> host = {"10.0.0.1"}) {
  TCaptureServices services;
  services.MakeLayer = [script] { return std::make_unique<TScriptedCaptureLayer>(script); };
  services.HostAddresses = [host] { return host; };
  services.InterfaceAddresses = [host] {
    std::vector<TInterfaceAddress> interfaces{{"127.0.0.1", "lo"}};
    for (const std::string& address : host)
      interfaces.push_back({address, "eth0"});
    return interfaces;
  };
  services.RunsAsRoot = [] { return false; };
  return services;
}
