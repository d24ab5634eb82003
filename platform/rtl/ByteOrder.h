// Everything this system stores or sends is little-endian, whatever the machine's order.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <type_traits>

namespace veskmath::rtl {

template <class T>
concept LittleEndianValue = std::is_arithmetic_v<T> && !std::is_same_v<T, long double>;

template <LittleEndianValue T, class Stream>
void WriteLittleEndian(Stream& stream, T value) {
  auto bytes = std::bit_cast<std::array<std::uint8_t, sizeof(T)>>(value);
  if constexpr (std::endian::native == std::endian::big) std::ranges::reverse(bytes);
  stream.WriteBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
}

template <LittleEndianValue T, class Stream>
T ReadLittleEndian(Stream& stream) {
  std::array<std::uint8_t, sizeof(T)> bytes{};
  stream.ReadBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
  if constexpr (std::endian::native == std::endian::big) std::ranges::reverse(bytes);
  return std::bit_cast<T>(bytes);
}

}  // namespace veskmath::rtl
