// The rules of a probe library image as the simulated handheld knows them: an 8-byte magic, the
// image's total size as a 4-byte little-endian number, then filler bytes fixed by their offset.
// An image is valid only when every byte is where these rules put it, so that a cut copy, an
// extended copy or a copy with a chunk lost, repeated or zero-filled is told apart from a good
// one. Standard library only: the device emulator uses the same rules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace probe_image {

constexpr std::uint8_t kMagic[8] = {'K', 'O', 'L', 'T', 'P', 'R', 'B', 0x1A};
constexpr std::size_t kSizeOffset = sizeof(kMagic);
constexpr std::size_t kHeaderSize = kSizeOffset + 4;
// The size field holds 32 bits.
constexpr std::uint64_t kMaxSize = 0xFFFFFFFFu;

// The filler byte at `offset`: a multiplicative hash of the whole offset, so that two chunks of
// any power-of-two length at different places never hold the same bytes.
inline std::uint8_t FillerAt(std::size_t offset) {
  const std::uint32_t mixed = static_cast<std::uint32_t>(offset) * 2654435761u;
  return static_cast<std::uint8_t>(mixed >> 24);
}

// A valid image of `size` bytes. Throws std::invalid_argument below kHeaderSize or above
// kMaxSize.
inline std::vector<std::uint8_t> Make(std::size_t size) {
  if (size < kHeaderSize || static_cast<std::uint64_t>(size) > kMaxSize) {
    throw std::invalid_argument("probe image size out of range");
  }
  std::vector<std::uint8_t> image(size);
  for (std::size_t i = 0; i < sizeof(kMagic); ++i) image[i] = kMagic[i];
  const auto total = static_cast<std::uint32_t>(size);
  for (std::size_t i = 0; i < 4; ++i) {
    image[kSizeOffset + i] = static_cast<std::uint8_t>(total >> (8 * i));
  }
  for (std::size_t i = kHeaderSize; i < size; ++i) image[i] = FillerAt(i);
  return image;
}

inline bool IsValid(const std::uint8_t* data, std::size_t size) {
  if (data == nullptr || size < kHeaderSize || static_cast<std::uint64_t>(size) > kMaxSize) {
    return false;
  }
  for (std::size_t i = 0; i < sizeof(kMagic); ++i) {
    if (data[i] != kMagic[i]) return false;
  }
  std::uint32_t total = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    total |= static_cast<std::uint32_t>(data[kSizeOffset + i]) << (8 * i);
  }
  if (total != size) return false;
  for (std::size_t i = kHeaderSize; i < size; ++i) {
    if (data[i] != FillerAt(i)) return false;
  }
  return true;
}

inline bool IsValid(const std::vector<std::uint8_t>& image) {
  return IsValid(image.data(), image.size());
}

}  // namespace probe_image
