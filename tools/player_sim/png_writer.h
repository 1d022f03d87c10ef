// A PNG encoder small enough to live in the simulator: 8-bit RGB, no filtering, and the image
// data in stored (uncompressed) deflate blocks, which every PNG reader accepts. Platform-free.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// rgb holds width * height pixels of three bytes (red, green, blue), the top row first. Empty
// when the sizes do not match the pixels or are not positive.
std::string EncodePng(int width, int height, const std::vector<std::uint8_t>& rgb);
