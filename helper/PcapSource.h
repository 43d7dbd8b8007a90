#pragma once

#include <pcap/pcap.h>

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "core/CaptureTypes.h"
#include "helper/LinkLayer.h"

// A libpcap capture on the device that holds an IPv4 or IPv6 address, of both families: a
// packet socket with its receive ring, in promiscuous mode, with a kernel filter that lets
// through what the decoder may keep (CaptureFilter). Non-blocking once activated: the caller
// polls Descriptor().
class TPcapSource {
 public:
  // The ring hands a partly filled block over after this long; a lone datagram thus leaves
  // the helper within this delay.
  static constexpr int kBlockTimeoutMs = 10;

  using TDatagramCallback =
      std::function<void(std::int64_t unix_microseconds, std::span<const std::uint8_t>)>;

  TPcapSource() = default;
  TPcapSource(const TPcapSource&) = delete;
  TPcapSource& operator=(const TPcapSource&) = delete;
  ~TPcapSource();

  // The set-up steps; each returns false with Error() telling why.
  // Asks for a packet socket first, so that missing rights are told before anything else.
  bool Open();
  // `ip` as ParseCaptureAddress reads it: IPv4 as inet_addr reads it, or IPv6 with an
  // optional zone.
  bool Bind(const std::string& ip);
  bool ReceiveAll(std::uint16_t port_start, std::uint16_t port_end);

  int Descriptor() const;
  // Hands at most `limit` datagrams that the ring holds to `callback`, without waiting;
  // returns how many, or -1 on failure.
  int Dispatch(int limit, const TDatagramCallback& callback);
  // Datagrams the system dropped so far because the ring was full; false on failure, with
  // Error() telling why.
  bool Dropped(std::uint32_t& dropped);
  void Close();

  const TCaptureError& Error() const { return FError; }

 private:
  static void OnPacket(u_char* self, const pcap_pkthdr* header, const u_char* bytes);
  bool Fail(int code, std::string text);
  bool FailActivation(int status);

  pcap_t* FHandle = nullptr;
  TLinkType FLinkType = TLinkType::Ethernet;
  const TDatagramCallback* FCallback = nullptr;
  std::uint32_t FDropped = 0;
  TCaptureError FError;
};
