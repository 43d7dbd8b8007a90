#pragma once

#include <array>
#include <cstdint>
#include <optional>
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

// IPv6 next-header values.
enum : std::uint8_t {
  kNextHopByHop = 0,
  kNextTcp = 6,
  kNextUdp = 17,
  kNextRouting = 43,
  kNextFragment = 44,
  kNextEsp = 50,
  kNextAuthentication = 51,
  kNextNone = 59,
  kNextDestinationOptions = 60,
};

// One IPv6 extension header: its kind and its whole size in bytes (a multiple of 8; of 4 for
// an authentication header). Its next-header field names what follows it, and its length
// field is computed from the size unless given.
struct TExtensionHeader {
  std::uint8_t Kind = kNextHopByHop;
  std::size_t Size = 8;
  std::uint16_t FragmentField = 0;  // of a fragment header: offset in 8-byte units << 3, M bit
  std::optional<std::uint8_t> LengthField;
};

inline TExtensionHeader Extension(std::uint8_t kind, std::size_t size,
                                  std::optional<std::uint8_t> length_field = {}) {
  TExtensionHeader header;
  header.Kind = kind;
  header.Size = size;
  header.LengthField = length_field;
  return header;
}

inline TExtensionHeader FragmentHeader(std::uint16_t offset_units, bool more) {
  TExtensionHeader header = Extension(kNextFragment, 8);
  header.FragmentField = static_cast<std::uint16_t>(offset_units << 3 | (more ? 1 : 0));
  return header;
}

// Builds IPv6 datagrams: the fixed header, the extension headers in order, then a TCP header
// (or whatever UpperLayer names) with its payload.
struct TDatagram6Shape {
  std::array<std::uint8_t, 16> Source{0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
  std::array<std::uint8_t, 16> Dest{0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  std::uint16_t SourcePort = 1025;
  std::uint16_t DestPort = 80;
  std::uint8_t Flags = 0x02;
  std::string Payload;
  std::vector<TExtensionHeader> Extensions;
  std::uint8_t UpperLayer = kNextTcp;
  std::uint8_t DataOffset = 5;
  int PayloadLength = -1;  // -1: the true length
  std::size_t Padding = 0;
};

inline std::vector<std::uint8_t> BuildDatagram6(const TDatagram6Shape& shape) {
  std::vector<std::uint8_t> bytes(40, 0);
  bytes[0] = 0x60;
  bytes[6] = shape.Extensions.empty() ? shape.UpperLayer : shape.Extensions.front().Kind;
  bytes[7] = 64;  // hop limit
  for (int i = 0; i < 16; ++i) {
    bytes[8 + i] = shape.Source[i];
    bytes[24 + i] = shape.Dest[i];
  }
  for (std::size_t e = 0; e < shape.Extensions.size(); ++e) {
    const TExtensionHeader& x = shape.Extensions[e];
    const std::uint8_t next =
        e + 1 < shape.Extensions.size() ? shape.Extensions[e + 1].Kind : shape.UpperLayer;
    std::vector<std::uint8_t> header(x.Size, 0);  // Pad1 options, where options go
    header[0] = next;
    if (x.Kind == kNextAuthentication)
      header[1] = static_cast<std::uint8_t>(x.Size / 4 - 2);
    else if (x.Kind != kNextFragment)
      header[1] = static_cast<std::uint8_t>(x.Size / 8 - 1);
    if (x.LengthField) header[1] = *x.LengthField;
    if (x.Kind == kNextFragment) {
      header[2] = static_cast<std::uint8_t>(x.FragmentField >> 8);
      header[3] = static_cast<std::uint8_t>(x.FragmentField);
    }
    bytes.insert(bytes.end(), header.begin(), header.end());
  }
  const std::size_t tcp_header = std::size_t{shape.DataOffset} * 4;
  const std::size_t tcp_room = tcp_header < 20 ? 20 : tcp_header;
  std::vector<std::uint8_t> tcp(tcp_room + shape.Payload.size(), 0);
  tcp[0] = static_cast<std::uint8_t>(shape.SourcePort >> 8);
  tcp[1] = static_cast<std::uint8_t>(shape.SourcePort);
  tcp[2] = static_cast<std::uint8_t>(shape.DestPort >> 8);
  tcp[3] = static_cast<std::uint8_t>(shape.DestPort);
  tcp[12] = static_cast<std::uint8_t>(shape.DataOffset << 4);
  tcp[13] = shape.Flags;
  tcp[14] = 0xFA;
  for (std::size_t i = 20; i < tcp_header; ++i)
    tcp[i] = 0x01;
  for (std::size_t i = 0; i < shape.Payload.size(); ++i)
    tcp[tcp_room + i] = static_cast<std::uint8_t>(shape.Payload[i]);
  bytes.insert(bytes.end(), tcp.begin(), tcp.end());
  const std::uint16_t length = shape.PayloadLength < 0
                                   ? static_cast<std::uint16_t>(bytes.size() - 40)
                                   : static_cast<std::uint16_t>(shape.PayloadLength);
  bytes[4] = static_cast<std::uint8_t>(length >> 8);
  bytes[5] = static_cast<std::uint8_t>(length);
  bytes.insert(bytes.end(), shape.Padding, 0);
  return bytes;
}

inline TDatagram6Shape With6Payload(std::string_view payload, std::uint8_t flags = 0x18) {
  TDatagram6Shape shape;
  shape.Flags = flags;
  shape.Payload = std::string(payload);
  return shape;
}
