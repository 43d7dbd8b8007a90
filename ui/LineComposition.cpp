#include "ui/LineComposition.h"

#include <algorithm>
#include <atomic>

#include "core/DateTime.h"
#include "ui/log/LineBreaks.h"

namespace {

// A separator is one character or none; kNone marks none.
constexpr int kNone = -1;
std::atomic<int> g_date_separator{'/'};
std::atomic<int> g_time_separator{':'};

int SeparatorFrom(std::string_view reported, char fallback) {
  if (reported.empty()) return kNone;
  if (reported.size() == 1) return static_cast<unsigned char>(reported[0]);
  return static_cast<unsigned char>(fallback);
}

void AppendSeparator(std::string& out, int separator) {
  if (separator != kNone) out.push_back(static_cast<char>(separator));
}

void AppendTwoDigits(std::string& out, int value) {
  out.push_back(static_cast<char>('0' + value / 10 % 10));
  out.push_back(static_cast<char>('0' + value % 10));
}

void AppendDecimal(std::string& out, unsigned value) {
  char digits[10];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (count > 0)
    out.push_back(digits[--count]);
}

// "dd/mm/yyyy hh:mm:ss " with the locale's separators; milliseconds are dropped.
void AppendDate(std::string& out, double date) {
  const TCalendarTime t = DecodeDateTime(date);
  const int date_separator = g_date_separator.load(std::memory_order_relaxed);
  const int time_separator = g_time_separator.load(std::memory_order_relaxed);
  AppendTwoDigits(out, t.Day);
  AppendSeparator(out, date_separator);
  AppendTwoDigits(out, t.Month);
  AppendSeparator(out, date_separator);
  AppendTwoDigits(out, t.Year / 100);
  AppendTwoDigits(out, t.Year % 100);
  out.push_back(' ');
  AppendTwoDigits(out, t.Hour);
  AppendSeparator(out, time_separator);
  AppendTwoDigits(out, t.Minute);
  AppendSeparator(out, time_separator);
  AppendTwoDigits(out, t.Second);
  out.push_back(' ');
}

// The address column's width; a longer address is never cut.
constexpr std::size_t kAddressWidth = 15;

// An IPv6 address stands in square brackets, as in a URL, so that its port stands apart. The
// column holds PadLeft(text, kAddressWidth) of what is shown, written in place.
bool Bracketed(std::string_view ip) {
  return ip.find(':') != std::string_view::npos;
}

std::size_t EndPointSize(const TIpPort& end_point) {
  const std::string_view ip = end_point.Ip;
  return std::max(kAddressWidth, ip.size() + (Bracketed(ip) ? 2 : 0)) + 6;  // ":65535"
}

void AppendEndPoint(std::string& out, const TIpPort& end_point) {
  const std::string_view ip = end_point.Ip;
  const bool bracketed = Bracketed(ip);
  const std::size_t shown = ip.size() + (bracketed ? 2 : 0);
  if (shown < kAddressWidth) out.append(kAddressWidth - shown, ' ');
  if (bracketed) out.push_back('[');
  out += ip;
  if (bracketed) out.push_back(']');
  out.push_back(':');
  AppendDecimal(out, end_point.Port);
}

constexpr std::string_view kFlagNames[] = {"URG ", "ACK ", "PSH ", "RST ", "SYN ", "FIN "};

// What follows a payload cut at a zero byte: the symbol for NUL (U+2400), then how many bytes
// the cut left out.
constexpr std::string_view kZeroMark = "\xE2\x90\x80";
constexpr std::size_t kZeroMarkSize = 3 + 2 + 8 + 7;  // " +16777214 octets"

void AppendZeroMark(std::string& out, TZeroCut cut) {
  out += kZeroMark;
  const std::uint32_t following = cut.Following();
  if (following == 0) return;
  out += " +";
  AppendDecimal(out, following);
  out += following == 1 ? " octet" : " octets";
}

// Appends `text` with `indent` blanks at the start of each line after its first, unless that
// line is empty (`more` tells whether something follows the text on its last line). So a
// payload cannot start a line at the left edge and pass for one of the log's own lines.
void AppendIndented(std::string& out, std::string_view text, std::size_t indent, bool more) {
  std::size_t begin = 0;
  for (std::size_t at = NextBreak(text, 0); at < text.size(); at = NextBreak(text, begin)) {
    const std::size_t next = at + BreakLength(text, at);
    out.append(text.data() + begin, next - begin);
    begin = next;
    const bool empty = begin < text.size() ? text[begin] == '\r' || text[begin] == '\n' : !more;
    if (!empty) out.append(indent, ' ');
  }
  out.append(text.data() + begin, text.size() - begin);
}

}  // namespace

bool TDisplayOptions::Accepts(TDrapeauTCP flag) const {
  switch (flag) {
    case TDrapeauTCP::URG:
      return AcceptURG;
    case TDrapeauTCP::ACK:
      return AcceptACK;
    case TDrapeauTCP::PSH:
      return AcceptPSH;
    case TDrapeauTCP::RST:
      return AcceptRST;
    case TDrapeauTCP::SYN:
      return AcceptSYN;
    case TDrapeauTCP::FIN:
      return AcceptFIN;
  }
  return false;
}

std::optional<std::string> ComposeLine(const TTrameTCP& trame, const TDisplayOptions& options) {
  bool accepted = false;
  for (const TDrapeauTCP flag : kAllDrapeaux) {
    if (trame.Drapeaux.Contains(flag) && options.Accepts(flag)) {
      accepted = true;
      break;
    }
  }
  if (!accepted) return std::nullopt;

  std::string_view payload = trame.Data;
  if (payload.size() > 1 && payload.ends_with("\r\n")) payload.remove_suffix(2);

  const bool cut = trame.ZeroCut.Met();
  std::string line;
  line.reserve(20 + EndPointSize(trame.Source) + 4 + EndPointSize(trame.Dest) + 1 + 24 +
               payload.size() + (cut ? kZeroMarkSize : 0));
  if (options.ShowDate) AppendDate(line, trame.Date);
  if (options.ShowAddresses) {
    AppendEndPoint(line, trame.Source);
    line += " => ";
    AppendEndPoint(line, trame.Dest);
    line.push_back(' ');
  }
  if (options.ShowFlags) {
    for (const TDrapeauTCP flag : kAllDrapeaux) {
      line += trame.Drapeaux.Contains(flag) ? kFlagNames[static_cast<int>(flag)] : "    ";
    }
  }
  AppendIndented(line, payload, line.size(), cut);
  if (cut) AppendZeroMark(line, trame.ZeroCut);
  if (line.empty()) return std::nullopt;
  return line;
}

std::string PadLeft(std::string_view text, int width) {
  std::string result;
  if (width > 0 && text.size() < static_cast<std::size_t>(width))
    result.assign(static_cast<std::size_t>(width) - text.size(), ' ');
  result += text;
  return result;
}

void SetDateTimeSeparators(std::string_view date, std::string_view time) {
  g_date_separator.store(SeparatorFrom(date, '/'), std::memory_order_relaxed);
  g_time_separator.store(SeparatorFrom(time, ':'), std::memory_order_relaxed);
}

std::string DateSeparator() {
  std::string out;
  AppendSeparator(out, g_date_separator.load(std::memory_order_relaxed));
  return out;
}

std::string TimeSeparator() {
  std::string out;
  AppendSeparator(out, g_time_separator.load(std::memory_order_relaxed));
  return out;
}
