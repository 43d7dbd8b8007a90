// Writes the decoder fuzzer's seed corpus: IPv4 and IPv6 datagram shapes seen on real
// networks, each preceded by a big-endian port range; and, given a second folder, the stream
// reader's: the streams a capture helper writes.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "core/CaptureStream.h"
#include "testsupport/DatagramFixtures.h"

namespace {

void Write(const std::string& dir, const std::string& name, const TDatagramShape& shape,
           std::uint16_t start = 1, std::uint16_t end = 65535, std::size_t cut = 0) {
  std::vector<std::uint8_t> bytes = BuildDatagram(shape);
  if (cut != 0 && cut < bytes.size()) bytes.resize(cut);
  std::ofstream out(dir + "/" + name, std::ios::binary);
  const unsigned char range[4] = {
      static_cast<unsigned char>(start >> 8), static_cast<unsigned char>(start),
      static_cast<unsigned char>(end >> 8), static_cast<unsigned char>(end)};
  out.write(reinterpret_cast<const char*>(range), 4);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
}

void Write6(const std::string& dir, const std::string& name, const TDatagram6Shape& shape,
            std::size_t cut = 0) {
  std::vector<std::uint8_t> bytes = BuildDatagram6(shape);
  if (cut != 0 && cut < bytes.size()) bytes.resize(cut);
  std::ofstream out(dir + "/" + name, std::ios::binary);
  const unsigned char range[4] = {0, 1, 0xFF, 0xFF};
  out.write(reinterpret_cast<const char*>(range), 4);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
}

// IPv6 shapes: plain, behind each kind of extension header and a chain of them, fragments,
// what ends the walk, and addresses of each written form.
void WriteIpv6(const std::string& dir) {
  TDatagram6Shape syn;
  syn.DataOffset = 10;
  Write6(dir, "v6_syn_with_options", syn);
  TDatagram6Shape request = With6Payload("GET / HTTP/1.1\r\nHost: [fd00::1]\r\n\r\n");
  request.DataOffset = 8;
  Write6(dir, "v6_http_request", request);
  TDatagram6Shape chain = With6Payload("chained");
  chain.Extensions = {Extension(kNextHopByHop, 8),        Extension(kNextDestinationOptions, 16),
                      Extension(kNextRouting, 24),        FragmentHeader(0, true),
                      Extension(kNextAuthentication, 24), Extension(kNextDestinationOptions, 8)};
  Write6(dir, "v6_extension_chain", chain);
  Write6(dir, "v6_extension_chain_cut", chain, 100);
  TDatagram6Shape fragment = With6Payload("frag");
  fragment.Extensions = {FragmentHeader(0, true)};
  Write6(dir, "v6_first_fragment", fragment);
  fragment.Extensions = {FragmentHeader(185, false)};
  Write6(dir, "v6_later_fragment", fragment);
  TDatagram6Shape offload = With6Payload(std::string(1460, 'x'));
  offload.Extensions = {Extension(kNextHopByHop, 8)};
  offload.PayloadLength = 0;
  Write6(dir, "v6_zero_payload_length", offload);
  TDatagram6Shape esp;
  esp.UpperLayer = kNextEsp;
  Write6(dir, "v6_esp", esp);
  TDatagram6Shape none;
  none.Extensions = {Extension(kNextDestinationOptions, 8)};
  none.UpperLayer = kNextNone;
  Write6(dir, "v6_no_next_header", none);
  TDatagram6Shape addresses = With6Payload("", 0x11);
  addresses.Source = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 192, 0, 2, 1};
  addresses.Dest = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1};
  Write6(dir, "v6_mapped_and_two_runs", addresses);
}

}  // namespace

void WriteStream(const std::string& path, const TCaptureStreamWriter& stream) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(stream.Bytes().data()),
            static_cast<long>(stream.Size()));
}

void WriteStreams(const std::string& dir) {
  TCaptureStreamWriter out;
  out.Hello();
  const TCaptureError denied{TCaptureStep::Open, 13, "Permission denied", true};
  out.Step(TCaptureStep::Open, &denied);
  out.End();
  WriteStream(dir + "/refused", out);
  out.Clear();
  out.Hello();
  out.Step(TCaptureStep::Open);
  out.Step(TCaptureStep::Bind);
  out.Step(TCaptureStep::ReceiveAll);
  const auto segment = BuildDatagram(WithPayload("GET / HTTP/1.0\r\n"));
  out.Datagram(1'796'616'631'250'123, segment);
  out.Dropped(42);
  out.Datagram(1'796'616'631'260'000, segment);
  out.Datagram(1'796'616'631'270'000, BuildDatagram6(With6Payload("GET / HTTP/1.0\r\n")));
  const TCaptureError gone{TCaptureStep::Receive, 5, "The interface disappeared", false};
  out.Step(TCaptureStep::Receive, &gone);
  out.End();
  WriteStream(dir + "/capture_that_failed", out);
}

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: %s <corpus directory> [<stream corpus directory>]\n", argv[0]);
    return 2;
  }
  if (argc == 3) WriteStreams(argv[2]);
  const std::string dir = argv[1];
  TDatagramShape syn;  // SYN with MSS, SACK permitted, timestamps and window scale
  syn.DataOffset = 10;
  Write(dir, "syn_with_options", syn);
  TDatagramShape syn_ack = syn;
  syn_ack.Flags = 0x12;
  std::swap(syn_ack.SourcePort, syn_ack.DestPort);
  Write(dir, "syn_ack", syn_ack, 80, 80);
  TDatagramShape request = WithPayload("GET / HTTP/1.1\r\nHost: 10.0.0.1\r\n\r\n");
  request.DataOffset = 8;  // timestamps
  Write(dir, "http_request", request);
  Write(dir, "http_request_port_range", request, 1000, 2000);
  Write(dir, "fin_ack", WithPayload("", 0x11));
  Write(dir, "rst", WithPayload("", 0x04));
  Write(dir, "urgent_data", WithPayload("!", 0x38));
  TDatagramShape options = WithPayload("opts");
  options.Ihl = 6;
  Write(dir, "ip_options", options);
  TDatagramShape fragment = WithPayload("frag");
  fragment.FragmentField = 0x2000;
  Write(dir, "first_fragment", fragment);
  fragment.FragmentField = 0x00B9;
  Write(dir, "later_fragment", fragment);
  TDatagramShape tso = WithPayload(std::string(1460, 'x'));
  tso.TotalLength = 0;
  Write(dir, "offload_zero_length", tso);
  TDatagramShape padded = WithPayload("");
  padded.Padding = 6;
  Write(dir, "padded_ethernet_frame", padded);
  TDatagramShape udp;
  udp.Protocol = 17;
  Write(dir, "udp", udp);
  Write(dir, "truncated_tcp_header", WithPayload("zz"), 1, 65535, 30);
  Write(dir, "binary_payload", WithPayload(std::string("\x16\x03\x01\x02\x00\x01", 6)));
  WriteIpv6(dir);
  return 0;
}
