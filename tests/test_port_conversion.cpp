#include <gtest/gtest.h>

#include <optional>

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

TEST(WithFinalPeriod, AddedAfterCharactersAboveThePeriod) {
  EXPECT_EQ(WithFinalPeriod("'' is not a valid integer value"),
            "'' is not a valid integer value.");
  EXPECT_EQ(WithFinalPeriod("RichEdit line insertion error"), "RichEdit line insertion error.");
  EXPECT_EQ(WithFinalPeriod(""), "");
  EXPECT_EQ(WithFinalPeriod("done."), "done.");
  EXPECT_EQ(WithFinalPeriod("what?"), "what?.");           // '?' comes after '.'
  EXPECT_EQ(WithFinalPeriod("(error 99)"), "(error 99)");  // ')' comes before '.'
  EXPECT_EQ(WithFinalPeriod("a-"), "a-");
  EXPECT_EQ(WithFinalPeriod("port 80"), "port 80.");
}

}  // namespace
