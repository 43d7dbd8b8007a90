#include <gtest/gtest.h>

#include <optional>

#include "ui/DefaultHandler.h"
#include "ui/PortConversion.h"

namespace {

struct TConversionCase {
  const char* Text;
  std::optional<std::int32_t> Value;
};

TEST(StrToInt, ConversionTable) {
  const TConversionCase cases[] = {
      {"0", 0},
      {"80", 80},
      {"  443", 443},
      {"+7", 7},
      {"-1", -1},
      {"007", 7},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"$50", 80},
      {"x50", 80},
      {"X1f", 31},
      {"0x1F", 31},
      {"0X10", 16},
      {"-$10", -16},
      {"$FFFFFFFF", -1},
      {"-$FFFFFFFF", 1},
      {"$80000000", -2147483647 - 1},
      {"$000000001", 1},  // leading zeros are not significant
      {"00000000000000000000000042", 42},
      {"", std::nullopt},
      {"   ", std::nullopt},
      {"-", std::nullopt},
      {"+", std::nullopt},
      {"$", std::nullopt},
      {"0x", std::nullopt},
      {"x", std::nullopt},
      {"12a", std::nullopt},
      {"80 ", std::nullopt},
      {"\t80", std::nullopt},
      {"- 5", std::nullopt},
      {"+-5", std::nullopt},
      {"--5", std::nullopt},
      {"2147483648", std::nullopt},
      {"-2147483649", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"$100000000", std::nullopt},
      {"$FG", std::nullopt},
      {"00x10", std::nullopt},
      {"0$10", std::nullopt},
      {"1e3", std::nullopt},
      {"８０", std::nullopt},  // full-width digits
  };
  for (const TConversionCase& c : cases) {
    if (c.Value) {
      EXPECT_EQ(StrToInt(c.Text), *c.Value) << "'" << c.Text << "'";
    } else {
      try {
        StrToInt(c.Text);
        ADD_FAILURE() << "'" << c.Text << "' converted";
      } catch (const EConvertError& error) {
        EXPECT_EQ(std::string(error.what()),
                  std::string("'") + c.Text + "' is not a valid integer value");
      }
    }
  }
}

TEST(StrToPort, RangeIsChecked) {
  EXPECT_EQ(StrToPort("0"), 0);
  EXPECT_EQ(StrToPort("65535"), 65535);
  EXPECT_EQ(StrToPort("$FFFF"), 65535);
  for (const char* text : {"65536", "70000", "-1", "$FFFFFFFF", "-80"}) {
    try {
      StrToPort(text);
      ADD_FAILURE() << text;
    } catch (const EConvertError& error) {
      EXPECT_EQ(std::string(error.what()),
                std::string("'") + text + "' is not a valid port number");
    }
  }
  EXPECT_THROW(StrToPort("abc"), EConvertError);
}

// What the default handler's box shows for a message: the final period, visible control
// characters (bidirectional ones included, which would reorder the text), a bounded length.
TEST(DefaultHandler, BoxText) {
  using namespace std::string_literals;
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"'' is not a valid integer value", u"'' is not a valid integer value."},
      {u"RichEdit line insertion error", u"RichEdit line insertion error."},
      {u"", u""},
      {u"done.", u"done."},
      {u"what?", u"what?."},           // '?' comes after '.'
      {u"(error 99)", u"(error 99)"},  // ')' comes before '.'
      {u"a-", u"a-"},
      {u"'8\0"
       u"0'"s,
       u"'8\u2400"
       u"0'"},
      {u"tab\tand\r\n", u"tab\u2409and\u240D\u240A"},
      {u"abc\u202Eevil\u2066x\u2069", u"abc\uFFFDevil\uFFFDx\uFFFD."},
      {u"del\x7F c1\x85", u"del\u2421 c1\uFFFD."},
  };
  for (const auto& [message, shown] : cases)
    EXPECT_EQ(BoxText(message), shown) << std::string(message.begin(), message.end());

  const std::u16string long_message(1000, u'x');
  const std::u16string cut = BoxText(long_message);
  EXPECT_EQ(cut.size(), kMaxBoxCharacters);
  EXPECT_EQ(cut.back(), u'\u2026');
  // A character outside the basic plane is kept whole or not at all.
  const std::u16string emoji = std::u16string(kMaxBoxCharacters - 2, u'y') + u"\U0001F600zz";
  EXPECT_EQ(BoxText(emoji), std::u16string(kMaxBoxCharacters - 2, u'y') + u"\u2026");
}

}  // namespace
