// What a host does to a notation before it hands it to the plug-in: input methods type
// typographic maths symbols (a Japanese layout gives "×" and "÷" from their readings, "ー" for
// the minus key, the full-width "＾"), which the plug-in's vocabulary does not know; they
// become the ASCII operators ("（１＋２）×３＝" is converted as "（１＋２）*３＝"). The plug-in
// maps the other full-width forms itself.
#pragma once

#include <string>
#include <string_view>

namespace veskmath::host {

// The notation (UTF-8) with every such symbol replaced by its ASCII operator; the rest as is.
std::string AsciiOperators(std::string_view notation);

}  // namespace veskmath::host
