#include "platform/rtl/SysUtils.h"

#include <gtest/gtest.h>

#include <optional>

namespace veskmath::rtl {
namespace {

TEST(SysUtils, StrToIntReadsDecimalAndHexadecimalAndRefusesTheRest) {
  struct Case {
    const char* text;
    std::optional<int32_t> value;  // nullopt: EConvertError
  } const cases[] = {
      {"42", 42},
      {"  -42", -42},
      {"+7", 7},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"2147483648", std::nullopt},
      {"$ff", 255},
      {"0X1F", 31},
      {"$FFFFFFFF", -1},
      {"-$1", -1},
      {"$100000000", std::nullopt},
      {"", std::nullopt},
      {"-", std::nullopt},
      {"$", std::nullopt},
      {"+-1", std::nullopt},
      {"4x", std::nullopt},
      {"4 ", std::nullopt},
      {"99999999999999999999", std::nullopt},
  };
  for (const Case& c : cases) {
    if (c.value) {
      EXPECT_EQ(StrToInt(c.text), *c.value) << c.text;
    } else {
      EXPECT_THROW(StrToInt(c.text), EConvertError) << c.text;
    }
  }
}

}  // namespace
}  // namespace veskmath::rtl
