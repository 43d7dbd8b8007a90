#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Builds IPv4 datagrams carrying a TCP header, the way a raw receive delivers them.
struct TDatagramShape {
  std::array<std::uint8_t, 4> Source{192, 168, 0, 5};
  std::array<std::uint8_t, 4> Dest{10, 0, 0, 1};
  std::uint16_t SourcePort = 1025;
  std::uint16_t DestPort = 80;
  std::uint8_t Flags = 0x02;  // header bits: 0x20 URG ... 0x01 FIN
  std::string Payload;
  std::uint8_t Protocol = 6;
  std::uint8_t Ihl = 5;                  // 32-bit words of IP header
  std::uint8_t DataOffset = 5;           // 32-bit words of TCP header
  std::uint16_t FragmentField = 0x4000;  // DF set, offset 0
  int TotalLength = -1;                  // -1: the true length
  std::size_t Padding = 0;               // bytes after the datagram (Ethernet minimum size)
};

inline std::vector<std::uint8_t> BuildDatagram(const TDatagramShape& shape) {
  const std::size_t ip_header = std::size_t{shape.Ihl} * 4;
  const std::size_t tcp_header = std::size_t{shape.DataOffset} * 4;
  const std::size_t ip_room = ip_header < 20 ? 20 : ip_header;
  const std::size_t tcp_room = tcp_header < 20 ? 20 : tcp_header;
  const std::size_t length = ip_room + tcp_room + shape.Payload.size();
  std::vector<std::uint8_t> bytes(length + shape.Padding, 0);
  const std::uint16_t total = shape.TotalLength < 0
                                  ? static_cast<std::uint16_t>(length)
                                  : static_cast<std::uint16_t>(shape.TotalLength);
  bytes[0] = static_cast<std::uint8_t>(0x40 | (shape.Ihl & 0x0F));
  bytes[2] = static_cast<std::uint8_t>(total >> 8);
  bytes[3] = static_cast<std::uint8_t>(total);
  bytes[6] = static_cast<std::uint8_t>(shape.FragmentField >> 8);
  bytes[7] = static_cast<std::uint8_t>(shape.FragmentField);
  bytes[8] = 64;
  bytes[9] = shape.Protocol;
  for (int i = 0; i < 4; ++i) {
    bytes[12 + i] = shape.Source[i];
    bytes[16 + i] = shape.Dest[i];
  }
  for (std::size_t i = 20; i < ip_header; ++i)
    bytes[i] = 0x01;  // NOP options
  std::uint8_t* tcp = bytes.data() + ip_room;
  tcp[0] = static_cast<std::uint8_t>(shape.SourcePort >> 8);
  tcp[1] = static_cast<std::uint8_t>(shape.SourcePort);
  tcp[2] = static_cast<std::uint8_t>(shape.DestPort >> 8);
  tcp[3] = static_cast<std::uint8_t>(shape.DestPort);
  tcp[12] = static_cast<std::uint8_t>(shape.DataOffset << 4);
  tcp[13] = shape.Flags;
  tcp[14] = 0xFA;  // window
  for (std::size_t i = 20; i < tcp_header; ++i)
    tcp[i] = 0x01;
  for (std::size_t i = 0; i < shape.Payload.size(); ++i)
    tcp[tcp_room + i] = static_cast<std::uint8_t>(shape.Payload[i]);
  return bytes;
}

inline TDatagramShape WithPayload(std::string_view payload, std::uint8_t flags = 0x18) {
  TDatagramShape shape;
  shape.Flags = flags;
  shape.Payload = std::string(payload);
  return shape;
}
