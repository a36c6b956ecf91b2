#pragma once
// Small 24-bit BMP files made by the tests, pixels given top row first as 0x00BBGGRR.

#include <cstdint>
#include <vector>

namespace vantrel::test {

inline std::vector<std::uint8_t> bmp24(int width, int height,
                                       const std::vector<std::uint32_t>& topDown) {
    const int stride = (width * 3 + 3) / 4 * 4;
    const int size = 54 + stride * height;
    std::vector<std::uint8_t> file(static_cast<std::size_t>(size), 0);
    auto put32 = [&](int at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            file[static_cast<std::size_t>(at + i)] = static_cast<std::uint8_t>(v >> (8 * i));
        }
    };
    file[0] = 'B';
    file[1] = 'M';
    put32(2, static_cast<std::uint32_t>(size));
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<std::uint32_t>(width));
    put32(22, static_cast<std::uint32_t>(height));
    file[26] = 1;
    file[28] = 24;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::uint32_t c = topDown[static_cast<std::size_t>(y * width + x)];
            const auto at = static_cast<std::size_t>(54 + (height - 1 - y) * stride + 3 * x);
            file[at] = static_cast<std::uint8_t>(c >> 16);
            file[at + 1] = static_cast<std::uint8_t>(c >> 8);
            file[at + 2] = static_cast<std::uint8_t>(c);
        }
    }
    return file;
}

// A page of one colour with one square of another at (left, top).
inline std::vector<std::uint8_t> pageWithSquare(int width, int height, std::uint32_t paper,
                                                std::uint32_t ink, int left, int top, int side) {
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width * height), paper);
    for (int y = top; y < top + side; ++y) {
        for (int x = left; x < left + side; ++x) {
            pixels[static_cast<std::size_t>(y * width + x)] = ink;
        }
    }
    return bmp24(width, height, pixels);
}

} // namespace vantrel::test
