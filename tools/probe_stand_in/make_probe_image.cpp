// Writes a stand-in KOLTInfo.dll: a probe library image that the device emulator accepts as a
// valid probe. The real probe is a device-side component built elsewhere; the program copies
// either one as opaque bytes.
//
//   make_probe_image OUTPUT SIZE
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <vector>

#include "platform/sim/probe_image.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s OUTPUT SIZE\n", argv[0]);
    return 2;
  }
  char* end = nullptr;
  const unsigned long long size = std::strtoull(argv[2], &end, 10);
  if (end == argv[2] || *end != '\0') {
    std::fprintf(stderr, "%s: SIZE must be a number of bytes\n", argv[0]);
    return 2;
  }
  std::vector<std::uint8_t> image;
  try {
    image = probe_image::Make(static_cast<std::size_t>(size));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s: %s\n", argv[0], error.what());
    return 2;
  }
  std::FILE* file = std::fopen(argv[1], "wb");
  if (file == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  const bool written = std::fwrite(image.data(), 1, image.size(), file) == image.size();
  if (std::fclose(file) != 0 || !written) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
