#include <gtest/gtest.h>

#include <optional>

#include "core/DateTime.h"
#include "ui/LineComposition.h"
#include "ui/LocaleSeparators.h"
#include "ui/log/LogText.h"

namespace {

constexpr std::uint8_t kURG = 1, kACK = 2, kPSH = 4, kRST = 8, kSYN = 16, kFIN = 32;

TTrameTCP Trame(std::uint8_t flags, std::string data = "",
                TCalendarTime when = {2026, 12, 7, 4, 10, 31, 0}) {
  TTrameTCP t;
  t.Date = EncodeDateTime(when);
  t.Source = {"192.168.0.5", 1025};
  t.Dest = {"10.0.0.1", 80};
  t.Drapeaux = TDrapeauxTCP(flags);
  t.Data = std::move(data);
  return t;
}

TTrameTCP Trame6(std::uint8_t flags) {
  TTrameTCP t = Trame(flags);
  t.Source = {"fd00::2", 45678};
  t.Dest = {"fd00::1", 8080};
  return t;
}

// A payload cut at a zero byte that `following` bytes followed.
TTrameTCP Cut(std::string data, std::size_t following, std::uint8_t flags = kACK | kPSH) {
  TTrameTCP t = Trame(flags, std::move(data));
  t.ZeroCut = TZeroCut::At(following);
  return t;
}

TTrameTCP Reply(std::uint8_t flags, std::string data) {
  TTrameTCP t = Trame(flags, std::move(data));
  std::swap(t.Source, t.Dest);
  return t;
}

TDisplayOptions Columns(bool date, bool addresses, bool flags) {
  TDisplayOptions o;
  o.ShowDate = date;
  o.ShowAddresses = addresses;
  o.ShowFlags = flags;
  return o;
}

TDisplayOptions AcceptOnly(std::uint8_t accepted) {
  TDisplayOptions o;
  o.AcceptURG = accepted & kURG;
  o.AcceptACK = accepted & kACK;
  o.AcceptPSH = accepted & kPSH;
  o.AcceptRST = accepted & kRST;
  o.AcceptSYN = accepted & kSYN;
  o.AcceptFIN = accepted & kFIN;
  return o;
}

class LineCompositionTest : public testing::Test {
 protected:
  void SetUp() override { SetDateTimeSeparators("/", ":"); }
  void TearDown() override { SetDateTimeSeparators("/", ":"); }
};

struct TLineCase {
  const char* Name;
  TTrameTCP Trame;
  TDisplayOptions Options;
  std::optional<std::string> Line;
};

TEST_F(LineCompositionTest, GoldenLines) {
  const TLineCase cases[] = {
      {"syn_all_columns",
       Trame(kSYN),
       {},
       "07/12/2026 04:10:31     192.168.0.5:1025 =>        10.0.0.1:80                 SYN     "},
      {"reply_with_crlf",
       Reply(kACK | kPSH, "abc\r\n"),
       {},
       "07/12/2026 04:10:31        10.0.0.1:80 =>     192.168.0.5:1025     ACK PSH             "
       "abc"},
      {"all_flags", Trame(63, "x"), Columns(false, false, true), "URG ACK PSH RST SYN FIN x"},
      {"bare_syn_without_syn_filter", Trame(kSYN), AcceptOnly(kURG | kACK | kPSH | kRST | kFIN),
       std::nullopt},
      {"syn_ack_accepted_by_ack", Trame(kSYN | kACK), AcceptOnly(kURG | kACK | kPSH | kRST | kFIN),
       "07/12/2026 04:10:31     192.168.0.5:1025 =>        10.0.0.1:80     ACK         SYN     "},
      {"no_filter_box", Trame(63, "data"), AcceptOnly(0), std::nullopt},
      {"no_flag_at_all", Trame(0, "data"), AcceptOnly(63), std::nullopt},
      {"only_unaccepted_flags", Trame(kFIN | kRST, "bye"), AcceptOnly(kSYN | kACK), std::nullopt},
      {"no_columns_empty_payload", Trame(kACK), Columns(false, false, false), std::nullopt},
      {"no_columns_payload_alone", Trame(kACK, "hello"), Columns(false, false, false), "hello"},
      {"filter_without_flags_column", Trame(kSYN),
       [] {
         auto o = AcceptOnly(kACK);
         o.ShowFlags = false;
         return o;
       }(),
       std::nullopt},
      {"date_column_only", Trame(kACK, "z"), Columns(true, false, false), "07/12/2026 04:10:31 z"},
      {"date_beyond_the_calendar",
       [] {
         TTrameTCP t = Trame(kACK, "z");
         t.Date = 1e300;
         return t;
       }(),
       Columns(true, false, false), "00/00/0000 00:00:00 z"},
      {"longest_address",
       [] {
         TTrameTCP t = Trame(kRST);
         t.Source = {"255.255.255.255", 65535};
         t.Dest = {"1.2.3.4", 0};
         return t;
       }(),
       Columns(false, true, false), "255.255.255.255:65535 =>         1.2.3.4:0 "},
      {"ipv6_syn_all_columns",
       Trame6(kSYN),
       {},
       "07/12/2026 04:10:31       [fd00::2]:45678 =>       [fd00::1]:8080                 SYN    "
       " "},
      {"ipv6_wider_than_the_column",
       [] {
         TTrameTCP t = Trame(kRST);
         t.Source = {"2001:db8:aaaa:bbbb:cccc:dddd:eeee:ffff", 443};
         t.Dest = {"::1", 1};
         return t;
       }(),
       Columns(false, true, false),
       "[2001:db8:aaaa:bbbb:cccc:dddd:eeee:ffff]:443 =>           [::1]:1 "},
      {"ipv6_filtered_as_ipv4", Trame6(kSYN), AcceptOnly(kACK), std::nullopt},
      {"final_lf_kept", Trame(kPSH, "abc\n"), Columns(false, false, false), "abc\n"},
      {"final_cr_kept", Trame(kPSH, "abc\r"), Columns(false, false, false), "abc\r"},
      {"only_one_crlf_removed", Trame(kPSH, "abc\r\n\r\n"), Columns(false, false, false),
       "abc\r\n"},
      {"crlf_alone_becomes_empty", Trame(kPSH, "\r\n"), Columns(false, false, false),
       std::nullopt},
      {"inner_breaks_kept", Trame(kPSH, "a\r\nb\tc\x01"), Columns(false, false, false),
       "a\r\nb\tc\x01"},
      {"high_bytes_untouched", Trame(kPSH, "\xE9\x80\xFF"), Columns(false, false, false),
       "\xE9\x80\xFF"},
      {"milliseconds_dropped", Trame(kACK, "", {2026, 12, 7, 4, 10, 31, 999}),
       Columns(true, false, false), "07/12/2026 04:10:31 "},
      {"single_digit_fields", Trame(kACK, "", {2027, 1, 2, 3, 4, 5, 6}),
       Columns(true, false, false), "02/01/2027 03:04:05 "},
      // Each further line of a payload starts where the payload does; an empty one stays so.
      {"forged_line_indented",
       Reply(kACK | kPSH,
             "ok\r\n09/12/2026 15:07:35  10.66.6.6:443 => ... ACK PSH  root login ok"),
       {},
       "07/12/2026 04:10:31        10.0.0.1:80 =>     192.168.0.5:1025     ACK PSH             "
       "ok\r\n" +
           std::string(87, ' ') +
           "09/12/2026 15:07:35  10.66.6.6:443 => ... ACK PSH  root login ok"},
      {"empty_line_between", Trame(kPSH, "a\r\n\r\nb"), Columns(true, false, false),
       "07/12/2026 04:10:31 a\r\n\r\n" + std::string(20, ' ') + "b"},
      {"lf_then_lone_cr", Trame(kPSH, "a\n\rb"), Columns(false, false, true),
       "        PSH             a\n\r" + std::string(24, ' ') + "b"},
      {"final_lf_left_empty", Trame(kPSH, "abc\n"), Columns(true, false, false),
       "07/12/2026 04:10:31 abc\n"},
      // A payload cut at a zero byte says so, and how much it left out.
      {"zero_cut_counted", Cut("nul", 6), Columns(false, false, false), "nul\u2400 +6 octets"},
      {"zero_cut_last_byte", Cut("abc", 0), Columns(false, false, false), "abc\u2400"},
      {"zero_cut_one_octet", Cut("x", 1), Columns(false, false, false), "x\u2400 +1 octet"},
      {"zero_cut_first_byte", Cut("", 2), Columns(false, false, false), "\u2400 +2 octets"},
      {"zero_cut_after_crlf", Cut("abc\r\n", 3), Columns(false, false, false),
       "abc\u2400 +3 octets"},
      {"zero_cut_on_a_further_line", Cut("abc\n", 0), Columns(true, false, false),
       "07/12/2026 04:10:31 abc\n" + std::string(20, ' ') + "\u2400"},
  };
  for (const TLineCase& c : cases) {
    EXPECT_EQ(ComposeLine(c.Trame, c.Options), c.Line) << c.Name;
  }
  EXPECT_EQ(ComposeLine(Trame(kSYN), {})->size(), 87u);
}

// Split as the log splits it, every line of a segment after its first is empty or starts with
// the columns' width of blanks, and the payload's lines come back whole, whatever mix of breaks
// it holds.
TEST_F(LineCompositionTest, NoPayloadLineStartsAtTheLeftEdge) {
  const std::string indent(20, ' ');
  const char alphabet[] = {'a', '\r', '\n'};
  TLogText composed(1 << 20), alone(1 << 20);
  std::string a, b;
  for (int code = 0; code < 3 * 3 * 3 * 3 * 3 * 3; ++code) {
    std::string payload(13, 'p');  // the breaks on either side of 16 bytes in
    for (int c = code; c != 0; c /= 3)
      payload += alphabet[c % 3];
    const std::uint64_t first = composed.LineCount();
    ASSERT_TRUE(composed.Append(*ComposeLine(Trame(kPSH, payload), Columns(true, false, false))));
    if (payload.ends_with("\r\n")) payload.resize(payload.size() - 2);
    ASSERT_TRUE(alone.Append(payload));
    ASSERT_EQ(composed.LineCount(), alone.LineCount()) << testing::PrintToString(payload);
    for (std::uint64_t line = first + 1; line < composed.LineCount(); ++line) {
      const std::string_view shown = composed.Line(line, a), sent = alone.Line(line, b);
      EXPECT_EQ(shown, sent.empty() ? "" : indent + std::string(sent))
          << testing::PrintToString(payload) << " line " << line;
    }
  }
}

TEST_F(LineCompositionTest, LocaleSeparators) {
  struct TSeparatorCase {
    const char* Date;
    const char* Time;
    const char* Expected;
  } cases[] = {
      {".", ":", "07.12.2026 04:10:31 "},
      {"-", ".", "07-12-2026 04.10.31 "},
      {"", "", "07122026 041031 "},
      {". ", "::", "07/12/2026 04:10:31 "},  // two characters fall back to the defaults
      {"/", ":", "07/12/2026 04:10:31 "},
  };
  for (const auto& c : cases) {
    SetDateTimeSeparators(c.Date, c.Time);
    EXPECT_EQ(ComposeLine(Trame(kACK), Columns(true, false, false)), c.Expected)
        << "date '" << c.Date << "' time '" << c.Time << "'";
  }
  SetDateTimeSeparators(".", "");
  EXPECT_EQ(DateSeparator(), ".");
  EXPECT_EQ(TimeSeparator(), "");
}

TEST(LocaleSeparators, PosixFormats) {
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"%m/%d/%y", "/"},      {"%d.%m.%Y", "."}, {"%Y-%m-%d", "-"},    {"%Y%m%d", ""},
      {"%d. %m. %Y", ". "},   {"%H:%M:%S", ":"}, {"%Hh%M", "h"},       {"%-d/%-m", "/"},
      {"%Ey/%m", "/"},        {"%d%%%m", "%"},   {"%Y", std::nullopt}, {"", std::nullopt},
      {"date", std::nullopt},
  };
  for (const auto& [format, separator] : cases) {
    EXPECT_EQ(SeparatorInPosixFormat(format), separator) << format;
  }
}

TEST(PadLeft, PadsButNeverCuts) {
  EXPECT_EQ(PadLeft("1.2.3.4", 15), "        1.2.3.4");
  EXPECT_EQ(PadLeft("255.255.255.255", 15), "255.255.255.255");
  EXPECT_EQ(PadLeft("toolongtext", 4), "toolongtext");
  EXPECT_EQ(PadLeft("", 3), "   ");
  EXPECT_EQ(PadLeft("x", -2), "x");
}

}  // namespace
