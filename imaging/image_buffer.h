#pragma once
// The converter's intermediate image: rows top-down in a pixel store that is a file of the user's
// temporary directory mapped read/write (MappedStorage), so a page needs no heap copy. Pixels are
// 8 bits (palette indices, up to 256 entries), 16 bits (5-5-5 little-endian words), 24 bits (red,
// green, blue) or 32 bits (red, green, blue, alpha).
//
// Sizes are checked against the decode limits before any storage is made, so a small file that
// claims an absurd size is refused instead of allocated.

#include "imaging/resolution.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace vantrel::imaging {

// What a decoded picture may be at most. The defaults leave room for an A4 page at 1200 dpi.
struct DecodeLimits {
    std::uint64_t maxPixels = std::uint64_t{1} << 28;
    std::uint32_t maxDimension = 1u << 20;
};
DecodeLimits decodeLimits();
// For fuzzing and tests. Safe to call while conversions run on other threads (each limit is read
// and written atomically), though a conversion then may see the old and new values mixed.
void setDecodeLimits(const DecodeLimits& limits);

// A hidden working file "CSWCLASS<n>.tmp" in the temporary directory ($TMPDIR or /tmp), created
// exclusively (O_EXCL, O_NOFOLLOW, mode 0600) under the first free counter, its space reserved
// on disk (so a full disk fails the creation, never a later write to the mapping), and mapped
// read/write with exactly the size asked for. The name is unlinked as soon as the file is open,
// so no file is left behind on any path, not even a crash; the pages live until the storage is
// released.
class MappedStorage {
public:
    // nullptr when the file cannot be made or mapped (size 0 is refused too).
    static std::unique_ptr<MappedStorage> create(std::size_t size);
    ~MappedStorage();
    MappedStorage(const MappedStorage&) = delete;
    MappedStorage& operator=(const MappedStorage&) = delete;

    std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    MappedStorage(std::uint8_t* data, std::size_t size, int fd);
    std::uint8_t* data_;
    std::size_t size_;
    int fd_;
};

// The errno of the last pixel store that could not be made on this thread (the temporary folder
// missing or full, say), 0 when the last one was made.
int lastStorageError();

struct PaletteEntry {
    std::uint8_t red, green, blue;
};

class ImageBuffer {
public:
    static constexpr char kSignature[6] = "wsi10";

    ImageBuffer() = default;
    ImageBuffer(ImageBuffer&&) noexcept = default;
    ImageBuffer& operator=(ImageBuffer&&) noexcept = default;

    // Makes the pixel store for `type` (8, 16, 24 or 32) bits per pixel; false when the size is
    // outside the decode limits or the storage cannot be had. Pixels start as zero bytes.
    bool create(int type, std::uint32_t width, std::uint32_t height);
    // True when width x height is within the decode limits (checked before any allocation).
    static bool sizeAllowed(std::uint64_t width, std::uint64_t height);

    bool valid() const { return storage_ != nullptr; }
    int type() const { return type_; }
    std::uint32_t width() const { return width_; }
    std::uint32_t height() const { return height_; }
    std::size_t stride() const { return stride_; }
    std::uint8_t* row(std::uint32_t y) const { return storage_->data() + y * stride_; }
    const char* signature() const { return signature_.data(); }

    std::vector<PaletteEntry>& palette() { return palette_; }
    const std::vector<PaletteEntry>& palette() const { return palette_; }

    // The resolution the source file carried; unknown until a decoder sets it (create() clears it).
    Resolution resolution() const { return resolution_; }
    void setResolution(Resolution resolution) { resolution_ = resolution; }

    // A 24-bit copy (palette looked up, 5-5-5 widened, alpha dropped); invalid on failure.
    ImageBuffer to24() const;
    // An 8-bit grey copy (ITU-R BT.601 luma) with a grey ramp palette; invalid on failure.
    // Both copies keep the resolution.
    ImageBuffer toGrey8() const;

private:
    std::unique_ptr<MappedStorage> storage_;
    std::array<char, 6> signature_{};
    int type_ = 0;
    std::uint32_t width_ = 0;
    std::uint32_t height_ = 0;
    std::size_t stride_ = 0;
    std::vector<PaletteEntry> palette_;
    Resolution resolution_;
};

} // namespace vantrel::imaging
