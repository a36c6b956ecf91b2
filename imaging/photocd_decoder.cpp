// Kodak PhotoCD image packs, decoded at the base resolution of 768 x 512. A pack is accepted only
// when it carries the "PCD_IPI" signature at offset 0x800 (and is larger than 1048575 bytes), so
// an unknown large file is never passed off as a picture.

#include "imaging/codecs.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace vantrel::imaging {

namespace {

constexpr std::uint64_t kMinimumSize = 1048576;
constexpr std::uint64_t kSignatureOffset = 0x800;
constexpr std::uint64_t kBaseImageOffset = 0x30000; // sector 96 of 2048 bytes
constexpr std::uint32_t kWidth = 768;
constexpr std::uint32_t kHeight = 512;

std::uint8_t clamp(double v) {
    return static_cast<std::uint8_t>(std::clamp(v + 0.5, 0.0, 255.0));
}

} // namespace

DecodeStatus decodePhotoCd(std::FILE* file, std::uint64_t size, ImageBuffer& out,
                           const RowProgress& progress) {
    char signature[7];
    if (size < kMinimumSize || !readAt(file, kSignatureOffset, signature, sizeof signature) ||
        std::memcmp(signature, "PCD_IPI", sizeof signature) != 0) {
        return DecodeStatus::NotMine;
    }
    if (!out.create(24, kWidth, kHeight) || fseeko(file, kBaseImageOffset, SEEK_SET) != 0) {
        return DecodeStatus::Failed;
    }
    // Rows come in pairs: two luma rows, then one row each of the two half-resolution chroma
    // channels (PhotoYCC), shared by both luma rows.
    std::vector<std::uint8_t> pair(kWidth * 2 + kWidth);
    for (std::uint32_t y = 0; y < kHeight; y += 2) {
        if (std::fread(pair.data(), 1, pair.size(), file) != pair.size()) {
            return DecodeStatus::Failed;
        }
        const std::uint8_t* c1 = pair.data() + 2 * kWidth;
        const std::uint8_t* c2 = c1 + kWidth / 2;
        for (std::uint32_t r = 0; r < 2; ++r) {
            const std::uint8_t* luma = pair.data() + r * kWidth;
            std::uint8_t* d = out.row(y + r);
            for (std::uint32_t x = 0; x < kWidth; ++x, d += 3) {
                const double l = 1.3584 * luma[x];
                const double a = 2.2179 * (c1[x / 2] - 156.0);
                const double b = 1.8215 * (c2[x / 2] - 137.0);
                d[0] = clamp(l + b);
                d[1] = clamp(l - 0.194 * a - 0.509 * b);
                d[2] = clamp(l + a);
            }
        }
        progress.update(y + 2, kHeight);
    }
    return DecodeStatus::Decoded;
}

} // namespace vantrel::imaging
