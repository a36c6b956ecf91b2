// The near-key kernel against a pixel-by-pixel reference written from the definition: runs of
// every length around the vector widths, at every alignment, for keys at the ends and the middle
// of the channel range and for tolerances from "nothing" to "everything".

#include "imaging/snap_to_key.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace vantrel::imaging {
namespace {

// Snaps pixel by pixel, straight from the definition of the colour distance.
void reference(std::uint8_t* p, std::size_t count, std::size_t step, std::uint32_t key,
               std::int32_t tolerance) {
    const int k[3] = {int(key >> 16 & 0xFF), int(key >> 8 & 0xFF), int(key & 0xFF)};
    for (std::size_t i = 0; i < count; ++i, p += step) {
        const int d = std::abs(p[0] - k[0]) + std::abs(p[1] - k[1]) + std::abs(p[2] - k[2]);
        if (d >= 1 && d <= tolerance) {
            for (int c = 0; c < 3; ++c) {
                p[c] = static_cast<std::uint8_t>(k[c]);
            }
        }
    }
}

struct KernelCase {
    const char* name;
    std::uint32_t key;
    std::int32_t tolerance;
};

class SnapToKey : public testing::TestWithParam<KernelCase> {};

TEST_P(SnapToKey, EqualsTheReferenceForEveryLengthAndAlignment) {
    const KernelCase& c = GetParam();
    std::mt19937 random(c.key ^ static_cast<std::uint32_t>(c.tolerance));
    for (const std::size_t step : {std::size_t{3}, std::size_t{4}}) {
        for (std::size_t count = 0; count <= 70; ++count) {
            for (std::size_t offset = 0; offset < 4; ++offset) {
                // Pixels near the key (on both sides of it) and anywhere; 8 guard bytes after.
                std::vector<std::uint8_t> bytes(offset + count * step + 8);
                for (std::size_t i = 0; i < bytes.size(); ++i) {
                    const std::size_t at = (i + 4 * step - offset) % step; // 0 blue .. 3 spare
                    const int channel = at < 3 ? int(c.key >> (8 * (2 - at)) & 0xFF) : 0;
                    const int v = at == 3 || random() % 3 == 0 ? int(random() % 256)
                                                               : channel + int(random() % 31) - 15;
                    bytes[i] = static_cast<std::uint8_t>(std::clamp(v, 0, 255));
                }
                std::vector<std::uint8_t> expected = bytes;
                reference(expected.data() + offset, count, step, c.key, c.tolerance);
                snapToKey(bytes.data() + offset, count, step, c.key, c.tolerance);
                ASSERT_EQ(bytes, expected)
                    << "step " << step << " count " << count << " offset " << offset;
            }
        }
    }
}

const KernelCase kKernelCases[] = {
    {"white_20", 0xFFFFFF, 20},
    {"black_20", 0x000000, 20},
    {"mixed_key_1", 0x13F080, 1},
    {"mixed_key_45", 0x80FF00, 45},
    {"grey_764", 0x7F7F7F, 764},
    {"beyond_any_distance", 0x102030, 100000},
    {"zero_changes_nothing", 0xFFFFFF, 0},
    {"negative_changes_nothing", 0xFFFFFF, -7},
};

INSTANTIATE_TEST_SUITE_P(Keys, SnapToKey, testing::ValuesIn(kKernelCases),
                         [](const auto& row) { return std::string(row.param.name); });

} // namespace
} // namespace vantrel::imaging
