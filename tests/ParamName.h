// Names a parameterised case after its printed parameter (its PrintTo), so that test logs
// read "Evaluates/1_2_plus_3_times_4_false" rather than an index or raw bytes. Operators become
// short words, any other run of non-alphanumerics one "_"; the case's index leads, so that
// two texts spelt alike ("1+2", "1 + 2") still get different names.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <string_view>

namespace veskmath::tests {

struct ReadableParamName {
  template <class Param>
  std::string operator()(const ::testing::TestParamInfo<Param>& info) const {
    constexpr std::size_t kMaxLength = 48;
    std::string name = std::to_string(info.index);
    bool gap = true;  // "_" after the index, once per run of other characters
    for (const char c : ::testing::PrintToString(info.param)) {
      std::string_view word;
      switch (c) {
        case '+':
          word = "plus";
          break;
        case '-':
          word = "minus";
          break;
        case '*':
          word = "times";
          break;
        case '/':
          word = "over";
          break;
        case '^':
          word = "pow";
          break;
        case '<':
          word = "lt";
          break;
        case '>':
          word = "gt";
          break;
        case '=':
          word = "eq";
          break;
        case '!':
          word = "not";
          break;
        case '&':
          word = "and";
          break;
        case '|':
          word = "or";
          break;
        case '%':
          word = "mod";
          break;
        default:
          break;
      }
      if (name.size() >= kMaxLength) break;
      if (!word.empty()) {
        name += '_';
        name += word;
        gap = true;
      } else if (std::isalnum(static_cast<unsigned char>(c))) {
        if (gap) name += '_';
        name += c;
        gap = false;
      } else {
        gap = true;
      }
    }
    return name;
  }
};

}  // namespace veskmath::tests
