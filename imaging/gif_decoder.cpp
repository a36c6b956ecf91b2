// GIF pictures for LoadPicture: the first frame, decoded by giflib from memory, placed on the
// logical screen as 8-bit indices. The screen starts as the background index; the frame's
// transparent pixels (from its graphic control extension) leave the background showing; the
// part of the frame outside the screen is cut off. The frame's own colour table wins over the
// global one; a file with neither gets a grey ramp. A zero-sized screen or frame, a broken LZW
// stream or a file without any frame gives no picture.

#include "imaging/picture_decoders.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace vantrel::imaging {
namespace {

struct MemoryReader {
    Bytes bytes;
    std::size_t at = 0;
};

int readGif(GifFileType* gif, GifByteType* into, int n) {
    auto* reader = static_cast<MemoryReader*>(gif->UserData);
    const std::size_t count =
        std::min<std::size_t>(n < 0 ? 0 : std::size_t(n), reader->bytes.size() - reader->at);
    std::memcpy(into, reader->bytes.data() + reader->at, count);
    reader->at += count;
    return static_cast<int>(count);
}

struct GifCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};

// Reads records up to the first image descriptor; -1 when there is none. Also returns the
// transparent index of the graphic control extension before it (-1 for none).
bool findFirstFrame(GifFileType* gif, int& transparent) {
    transparent = -1;
    for (;;) {
        GifRecordType type;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR) {
            return false;
        }
        if (type == IMAGE_DESC_RECORD_TYPE) {
            return DGifGetImageDesc(gif) != GIF_ERROR;
        }
        if (type != EXTENSION_RECORD_TYPE) {
            return false; // the trailer, or anything unknown, before a frame
        }
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) {
            return false;
        }
        if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) {
            transparent = (block[1] & 1) ? block[4] : -1;
        }
        while (block) {
            if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) {
                return false;
            }
        }
    }
}

} // namespace

std::unique_ptr<PictureObject> decodeGifPicture(Bytes b) {
    MemoryReader reader{b};
    int error = 0;
    std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&reader, readGif, &error));
    if (!gif) {
        return nullptr;
    }
    const int width = gif->SWidth;
    const int height = gif->SHeight;
    int transparent = -1;
    if (!pictureSizeAllowed(width, height) || !findFirstFrame(gif.get(), transparent)) {
        return nullptr;
    }
    const GifImageDesc& frame = gif->Image;
    if (frame.Width <= 0 || frame.Height <= 0) {
        return nullptr;
    }

    auto picture = std::make_unique<PictureObject>();
    picture->kind = PictureKind::Gif;
    picture->width = width;
    picture->height = height;
    picture->stride = std::size_t(width);
    picture->pixels = PixelBlock(picture->stride * std::size_t(height));
    std::fill_n(picture->pixels.data(), picture->pixels.size(),
                static_cast<std::uint8_t>(gif->SBackGroundColor));

    const ColorMapObject* map = frame.ColorMap ? frame.ColorMap : gif->SColorMap;
    picture->palette.assign(256, platform::kOpaque);
    for (int i = 0; i < 256; ++i) {
        std::uint32_t r = std::uint32_t(i), g = r, bl = r;
        if (map) {
            if (i >= map->ColorCount) {
                break; // past the table: black
            }
            r = map->Colors[i].Red;
            g = map->Colors[i].Green;
            bl = map->Colors[i].Blue;
        }
        picture->palette[std::size_t(i)] = platform::kOpaque | r << 16 | g << 8 | bl;
    }

    // Interlaced frames deliver their rows in four passes.
    static constexpr int kStart[] = {0, 4, 2, 1};
    static constexpr int kStep[] = {8, 8, 4, 2};
    std::vector<GifPixelType> line(std::size_t(frame.Width));
    const int x0 = std::max(0, frame.Left);
    const int x1 = std::min(width, frame.Left + frame.Width);
    int pass = 0;
    int row = 0;
    for (int n = 0; n < frame.Height; ++n) {
        if (DGifGetLine(gif.get(), line.data(), frame.Width) == GIF_ERROR) {
            return nullptr;
        }
        int y = n;
        if (frame.Interlace) {
            while (row >= frame.Height) {
                ++pass;
                row = kStart[pass];
            }
            y = row;
            row += kStep[pass];
        }
        const int sy = frame.Top + y;
        if (sy < 0 || sy >= height || x1 <= x0) {
            continue;
        }
        std::uint8_t* out = picture->pixels.data() + std::size_t(sy) * picture->stride;
        for (int x = x0; x < x1; ++x) {
            const int index = line[std::size_t(x - frame.Left)];
            if (index != transparent) {
                out[x] = static_cast<std::uint8_t>(index);
            }
        }
    }
    return picture;
}

} // namespace vantrel::imaging
