// Printed and parsed forms of value types.
//
// valueToStrep(v) is the printed form used in traces, dumps and scenario files: the type's
// fmt::formatter. sequenceToValue<T>(text) parses that form back; each value type specialises
// it. It returns nothing when the text is not a printed T, so that callers can say which text
// was wrong.
#pragma once

#include <fmt/format.h>

#include <optional>
#include <string>
#include <string_view>

namespace Mica {

template <class T>
std::string valueToStrep(const T& v) {
  return fmt::format("{}", v);
}

template <class T>
std::optional<T> sequenceToValue(std::string_view text);

}  // namespace Mica
