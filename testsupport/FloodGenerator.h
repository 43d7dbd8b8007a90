#pragma once

// Floods a veth with crafted TCP segments from a child process inside another namespace, at
// a given rate, through a packet socket. The frames are addressed to a MAC nobody holds, so
// that the receiving stack ignores them and only a promiscuous capture sees them.
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "testsupport/DatagramFixtures.h"
#include "testsupport/NetnsLab.h"

struct TFloodResult {
  std::uint64_t Sent = 0;
};

class TFlood {
 public:
  // Starts sending `rate` segments per second (0: as fast as possible) for `duration`, over
  // IPv4 from 10.199.0.2 to 10.199.0.1, or over IPv6 from fd00::2 to fd00::1.
  TFlood(const TNetns& ns, const std::string& device, std::uint64_t rate,
         std::chrono::milliseconds duration, std::uint16_t dest_port, bool ipv6 = false) {
    std::fflush(stdout);
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe");
    FChild = ::fork();
    if (FChild == 0) {
      ::prctl(PR_SET_NAME, "flood", 0, 0, 0);
      // Nothing of the parent's stays open here: a pipe to a capture helper held by this child
      // would hide from the helper that its window closed it.
      ::close_range(3, static_cast<unsigned>(fds[1]) - 1, 0);
      ::close_range(static_cast<unsigned>(fds[1]) + 1, ~0u, 0);
      const std::uint64_t sent =
          ns.Run([&] { return Send(device, rate, duration, dest_port, ipv6); });
      (void)!::write(fds[1], &sent, sizeof sent);
      ::_exit(0);
    }
    ::close(fds[1]);
    FPipe = fds[0];
  }
  ~TFlood() { Wait(); }

  TFloodResult Wait() {
    if (FChild > 0) {
      std::uint64_t sent = 0;
      if (::read(FPipe, &sent, sizeof sent) == sizeof sent) FResult.Sent = sent;
      ::close(FPipe);
      ::waitpid(FChild, nullptr, 0);
      FChild = -1;
    }
    return FResult;
  }

 private:
  static std::uint64_t Send(const std::string& device, std::uint64_t rate,
                            std::chrono::milliseconds duration, std::uint16_t dest_port,
                            bool ipv6) {
    const int fd = ::socket(AF_PACKET, SOCK_RAW, 0);
    sockaddr_ll where{};
    where.sll_family = AF_PACKET;
    where.sll_ifindex = static_cast<int>(::if_nametoindex(device.c_str()));
    where.sll_halen = ETH_ALEN;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0) return 0;
    int bypass = 1;
    ::setsockopt(fd, SOL_PACKET, PACKET_QDISC_BYPASS, &bypass, sizeof bypass);

    std::vector<std::uint8_t> frame = {0x02, 0, 0, 0, 0, 0x99, 0x02, 0, 0, 0, 0, 0x02, 0x08, 0};
    std::vector<std::uint8_t> datagram;
    if (ipv6) {
      TDatagram6Shape shape = With6Payload(std::string(64, 'f'));
      shape.SourcePort = 40000;
      shape.DestPort = dest_port;
      datagram = BuildDatagram6(shape);  // fd00::2 to fd00::1
      frame[12] = 0x86;
      frame[13] = 0xDD;
    } else {
      TDatagramShape shape = WithPayload(std::string(64, 'f'));
      shape.Source = {10, 199, 0, 2};
      shape.Dest = {10, 199, 0, 1};
      shape.SourcePort = 40000;
      shape.DestPort = dest_port;
      datagram = BuildDatagram(shape);
    }
    frame.insert(frame.end(), datagram.begin(), datagram.end());

    constexpr int kBatch = 32;
    std::vector<std::vector<std::uint8_t>> frames(kBatch, frame);
    std::vector<iovec> vectors(kBatch);
    std::vector<mmsghdr> messages(kBatch);
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + duration;
    std::uint64_t sent = 0;
    for (auto now = start; now < end; now = std::chrono::steady_clock::now()) {
      if (rate != 0) {
        const double elapsed = std::chrono::duration<double>(now - start).count();
        if (sent >= static_cast<std::uint64_t>(elapsed * static_cast<double>(rate))) {
          std::this_thread::sleep_for(std::chrono::microseconds(50));
          continue;
        }
      }
      for (int i = 0; i < kBatch; ++i) {
        // A sequence number in the payload, as text, keeps every segment distinct.
        char number[17];
        std::snprintf(number, sizeof number, "%016llx",
                      static_cast<unsigned long long>(sent + static_cast<std::uint64_t>(i)));
        std::memcpy(frames[i].data() + frames[i].size() - 16, number, 16);
        vectors[i] = {frames[i].data(), frames[i].size()};
        messages[i] = {};
        messages[i].msg_hdr.msg_iov = &vectors[i];
        messages[i].msg_hdr.msg_iovlen = 1;
      }
      const int done = ::sendmmsg(fd, messages.data(), kBatch, 0);
      if (done > 0) sent += static_cast<std::uint64_t>(done);
    }
    ::close(fd);
    return sent;
  }

  pid_t FChild = -1;
  int FPipe = -1;
  TFloodResult FResult;
};
