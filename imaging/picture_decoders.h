#pragma once
// Picture decoders of LoadPicture and the picture box: the format detection table and one decoder
// per kind, all from a byte buffer in memory. Every decoder checks each read against the buffer,
// refuses a size beyond the decode limits before it allocates, and returns nullptr on anything it
// cannot decode. None of them registers the picture (picture_registry.h does that).

#include "imaging/picture.h"

#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace vantrel::imaging {

using Bytes = std::span<const std::uint8_t>;

// The kind the first bytes announce; none for fewer than 6 bytes or an unknown signature.
std::optional<PictureKind> detectPictureKind(Bytes bytes);

// Detection, then the decoder of that kind.
std::unique_ptr<PictureObject> decodePictureBytes(Bytes bytes);
// The same, free to take over or share the buffer instead of copying it (see decodeBmpPicture).
std::unique_ptr<PictureObject> decodePictureBytes(std::vector<std::uint8_t>&& bytes);
std::unique_ptr<PictureObject> decodePictureBytes(PixelBlock::SharedBytes bytes);

// Uncompressed BMP with 1, 4, 8, 24 or 32 bits per pixel (40-byte or later info header, or the
// 12-byte core header); stored as 24-bit rows.
std::unique_ptr<PictureObject> decodeBmpPicture(Bytes bytes);
// The same; a 24-bit bottom-up file whose rows already have the stored layout (a scanned page,
// the panel's content) shares its buffer with the picture instead of being copied.
std::unique_ptr<PictureObject> decodeBmpPicture(PixelBlock::SharedBytes file);
// The same, reading such rows where they lie: `file` must outlive the picture, unchanged.
std::unique_ptr<PictureObject> decodeBmpPictureBorrowing(Bytes file);
// JPEG through the shared decode of jpeg_reader.h into 24-bit rows; greyscale is widened, CMYK
// and YCCK are refused, and a damaged or truncated file gives no picture.
std::unique_ptr<PictureObject> decodeJpegPicture(Bytes bytes);
// PNG (libpng simplified interface) into 32-bit blue-green-red-alpha.
std::unique_ptr<PictureObject> decodePngPicture(Bytes bytes);
// The first frame of a GIF (giflib) on its logical screen, as 8-bit indices.
std::unique_ptr<PictureObject> decodeGifPicture(Bytes bytes);
// Icon or cursor: the directory entry that is 32 pixels wide with more than 15 colours, else the
// last entry; BMP-style (XOR and AND masks) or PNG-compressed.
std::unique_ptr<PictureObject> decodeIconPicture(Bytes bytes);
// Run-length encoded PCX with one plane of 8 bits (through its 256-colour table) or of 1 bit;
// runs may go on across line ends, and data that ends before the last row gives no picture.
std::unique_ptr<PictureObject> decodePcxPicture(Bytes bytes);

} // namespace vantrel::imaging
