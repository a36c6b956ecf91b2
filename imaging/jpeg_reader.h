#pragma once
// The one JPEG decode of the program, behind the converter's decodeJpeg and LoadPicture's
// decodeJpegPicture. It reads a whole file from an open stream or from memory through
// libjpeg(-turbo) and hands the rows, top row first, to the caller's JpegRowSink. A file is
// decoded whole or not at all:
//   - any library warning about the data (premature end of file, corrupt entropy-coded data,
//     extraneous bytes, a broken progression) fails the decode at once, so a truncated or
//     damaged file never comes out as a picture with grey or smeared rows;
//   - a Huffman-coded file smaller than one bit per 8x8 block of its largest component cannot
//     hold the picture its header announces and is refused before any pixel memory is made;
//   - at most 256 scans are read;
//   - the library's own memory for whole-image buffers (progressive and multi-scan files) is
//     capped at three times the output's pixel bytes (of the frame padded to whole MCUs) plus
//     16 MiB; beyond it libjpeg-turbo fails instead of allocating.
// libjpeg's setjmp/longjmp error exit is confined to jpeg_reader.cpp.

#include "imaging/resolution.h"

#include <cstdint>
#include <cstdio>
#include <span>

namespace vantrel::imaging {

enum class JpegColours {
    RgbOrGrey, // one-component files as 8-bit grey, YCbCr and RGB files as red-green-blue
    Bgr,       // blue-green-red for every file, grey widened; CMYK and YCCK files are refused
};

struct JpegFrame {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int components = 0; // bytes per output pixel: 1 or 3
    // The JFIF density when it is in dots per inch or per centimetre; unknown for an aspect
    // ratio only (unit 0) and for files without a JFIF marker.
    Resolution resolution;
};

// Where the decoded rows go. Both functions are called between library calls (never from inside
// libjpeg) and must not throw: an exception must never unwind through libjpeg's frames.
class JpegRowSink {
public:
    // The picture passed every check; make room for it. False fails the decode.
    virtual bool start(const JpegFrame& frame) noexcept = 0;
    // Room for output row y (0 is the top): width x components bytes, valid until the next call.
    virtual std::uint8_t* row(std::uint32_t y) noexcept = 0;

protected:
    ~JpegRowSink() = default;
};

enum class JpegResult {
    NotJpeg, // failed before the file was accepted: no JPEG header, or output components not 1/3
    Failed,  // accepted, then refused or broken
    Decoded,
};

// Reads from the stream's current position, which must be the start of the file; `size` is the
// number of bytes from there to the end. The stream is left open, at an unspecified position.
JpegResult readJpeg(std::FILE* file, std::uint64_t size, JpegColours colours, JpegRowSink& sink);
// Reads from memory; `bytes` must stay unchanged during the call.
JpegResult readJpeg(std::span<const std::uint8_t> bytes, JpegColours colours, JpegRowSink& sink);

} // namespace vantrel::imaging
