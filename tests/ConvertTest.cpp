#include <gtest/gtest.h>

#include "kvshared/Convert.h"

namespace {

TEST(Convert, DecimalTextToInteger) {
  // Fractions round to the nearest integer, halves to even.
  for (auto [text, value] : std::initializer_list<std::pair<const char*, std::int32_t>>{
           {"40", 40}, {" -1 ", -1}, {"+7", 7}, {"16777215", 16777215}, {"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN},
           {"2.5", 2}, {"3.5", 4}, {"-2.5", -2}, {"2.51", 3}, {"7.49999", 7}, {".5", 0}}) {
    auto converted = kv::TextToInt32(text);
    EXPECT_TRUE(converted && *converted == value) << "\"" << text << "\"";
  }
  for (const char* bad : {"", " ", "abc", "12abc", "1e3", "--1", "0x10", "2147483648", "99999999999999999999", "."}) {
    auto converted = kv::TextToInt32(bad);
    EXPECT_FALSE(converted) << "\"" << bad << "\" converted to " << converted.value_or(0);
  }
  EXPECT_NE(kv::TextToInt32("abc").error().message.find("\"abc\""), std::string::npos);
}

}  // namespace
