#include "workflows/near_colour.h"

#include "imaging/bitmap.h"
#include "imaging/snap_to_key.h"
#include "workflows/workflow_state.h"

#include <algorithm>

namespace vantrel::workflows {
namespace {

// Columns are visited in blocks, row by row inside a block, so that the pass walks memory in
// order; progress is still reported for every column, in column order.
constexpr std::int32_t kColumnBlock = 512;

} // namespace

bool IsNearColour(Colour colour, Colour key) {
    return IsNearColour(colour, key, workflowState().colourTolerance);
}

std::int64_t progressPercent(std::int32_t done, std::int32_t width) {
    if (width <= 0) {
        return 0;
    }
    // round(done / width, 2) * 100 with halves rounded up, in exact integer arithmetic.
    return (200 * std::int64_t{done} + width) / (2 * std::int64_t{width});
}

std::string progressText(std::int32_t done, std::int32_t width) {
    return std::to_string(progressPercent(done, width)) + "%";
}

std::vector<std::uint8_t> SnapNearColour(std::span<const std::uint8_t> page, Colour colour,
                                         bool useColour, std::int32_t tolerance,
                                         PassProgress& progress) {
    const Colour key = (useColour ? colour : kWhite) & 0xFFFFFFu;
    auto bitmap = imaging::Bitmap::create();
    bitmap->loadData(page);
    const std::int32_t width = bitmap->getWidth();

    progress.begin();
    const bool anyNear = tolerance > 0;
    for (std::int32_t x0 = 0; x0 < width; x0 += kColumnBlock) {
        const std::int32_t x1 = std::min(width, x0 + kColumnBlock);
        const bool direct =
            anyNear && bitmap->forEachDirectRun(
                           x0, x1, [&](std::uint8_t* first, std::size_t n, std::size_t step) {
                               imaging::snapToKey(first, n, step, key, tolerance);
                           });
        if (anyNear && !direct) {
            const auto limit = static_cast<unsigned>(tolerance);
            bitmap->forEachPixel(x0, x1, [key, limit](Colour c) {
                return static_cast<unsigned>(colourDistance(c, key) - 1) < limit ? key : c;
            });
        }
        for (std::int32_t x = x0; x < x1; ++x) {
            progress.columnDone(x + 1, width);
        }
    }
    progress.end();
    return width > 0 ? bitmap->takeData() : std::vector<std::uint8_t>{};
}

} // namespace vantrel::workflows
