#include "imaging/codecs.h"

namespace vantrel::imaging {

bool readAt(std::FILE* file, std::uint64_t offset, void* into, std::size_t n) {
    if (offset > static_cast<std::uint64_t>(INT64_MAX) ||
        fseeko(file, static_cast<off_t>(offset), SEEK_SET) != 0) {
        return false;
    }
    return std::fread(into, 1, n, file) == n;
}

bool decodePicture(std::FILE* file, std::uint64_t size, ImageBuffer& out,
                   const RowProgress& progress) {
    using Decoder = DecodeStatus (*)(std::FILE*, std::uint64_t, ImageBuffer&, const RowProgress&);
    static constexpr Decoder kDecoders[] = {decodeJpeg, decodeBmp, decodeTiff,
                                            decodePng,  decodePcx, decodePhotoCd};
    for (Decoder decode : kDecoders) {
        std::clearerr(file);
        if (fseeko(file, 0, SEEK_SET) != 0) {
            return false;
        }
        ImageBuffer image;
        switch (decode(file, size, image, progress)) {
        case DecodeStatus::NotMine:
            continue;
        case DecodeStatus::Failed:
            return false;
        case DecodeStatus::Decoded:
            out = std::move(image);
            return true;
        }
    }
    return false;
}

} // namespace vantrel::imaging
