#include <gtest/gtest.h>

#include "kvshared/Convert.h"

namespace {

TEST(Convert, DecimalTextToInteger) {
  EXPECT_EQ(*kv::TextToInt32("40"), 40);
  EXPECT_EQ(*kv::TextToInt32(" -1 "), -1);
  EXPECT_EQ(*kv::TextToInt32("+7"), 7);
  EXPECT_EQ(*kv::TextToInt32("16777215"), 16777215);
  EXPECT_EQ(*kv::TextToInt32("2147483647"), 2147483647);
  EXPECT_EQ(*kv::TextToInt32("-2147483648"), INT32_MIN);
  // Fractions round to the nearest integer, halves to even.
  EXPECT_EQ(*kv::TextToInt32("2.5"), 2);
  EXPECT_EQ(*kv::TextToInt32("3.5"), 4);
  EXPECT_EQ(*kv::TextToInt32("-2.5"), -2);
  EXPECT_EQ(*kv::TextToInt32("2.51"), 3);
  EXPECT_EQ(*kv::TextToInt32("7.49999"), 7);
  EXPECT_EQ(*kv::TextToInt32(".5"), 0);

  for (const char* bad : {"", " ", "abc", "12abc", "1e3", "--1", "0x10", "2147483648", "99999999999999999999", "."}) {
    auto converted = kv::TextToInt32(bad);
    EXPECT_FALSE(converted) << "\"" << bad << "\" converted to " << converted.value_or(0);
  }
  EXPECT_NE(kv::TextToInt32("abc").error().message.find("\"abc\""), std::string::npos);
}

}  // namespace
