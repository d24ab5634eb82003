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

template <LittleEndianValue T>
std::array<std::uint8_t, sizeof(T)> ToLittleEndian(T value) {
  auto bytes = std::bit_cast<std::array<std::uint8_t, sizeof(T)>>(value);
  if constexpr (std::endian::native == std::endian::big) std::ranges::reverse(bytes);
  return bytes;
}

// The value whose little-endian bytes start at `bytes` (sizeof(T) of them).
template <LittleEndianValue T>
T FromLittleEndian(const std::uint8_t* bytes) {
  std::array<std::uint8_t, sizeof(T)> copy;
  std::copy_n(bytes, sizeof(T), copy.begin());
  if constexpr (std::endian::native == std::endian::big) std::ranges::reverse(copy);
  return std::bit_cast<T>(copy);
}

template <LittleEndianValue T, class Stream>
void WriteLittleEndian(Stream& stream, T value) {
  const auto bytes = ToLittleEndian(value);
  stream.WriteBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
}

template <LittleEndianValue T, class Stream>
T ReadLittleEndian(Stream& stream) {
  std::array<std::uint8_t, sizeof(T)> bytes{};
  stream.ReadBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
  return FromLittleEndian<T>(bytes.data());
}

}  // namespace veskmath::rtl
