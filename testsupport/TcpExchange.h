#pragma once

// One short TCP conversation between two namespaces, for tests that capture it.
#include <stdexcept>
#include <thread>

#include "testsupport/NetnsLab.h"
#include "testsupport/TcpPeers.h"

inline constexpr std::uint16_t kServerPort = 8080;

// Connect, a request and a reply ending in CR LF, a FIN from the client, a reset from the
// server. Returns the reply the client read.
inline std::string Exchange(const TNetns& client_ns, const TNetns& server_ns,
                            const std::string& server_ip) {
  const int listener = server_ns.Run([&] { return ListenOn(server_ip, kServerPort); });
  std::thread server([listener] {
    const int connection = ::accept(listener, nullptr, nullptr);
    std::string request;
    while (request.find("\r\n") == std::string::npos)
      request += ReceiveText(connection);
    SendText(connection, "200 OK\r\n");
    while (!ReceiveText(connection).empty()) {
    }
    Reset(connection);
  });
  const int client = client_ns.Run([&] { return ConnectTo(server_ip, kServerPort); });
  SendText(client, "GET /index\r\n");
  const std::string reply = ReceiveText(client);
  ::shutdown(client, SHUT_WR);
  server.join();
  ReceiveText(client);  // the reset
  ::close(client);
  ::close(listener);
  return reply;
}
