// The shared JPEG decode (see jpeg_reader.h). libjpeg reports errors through an error exit that
// must not return; ours jumps back into run(), the one function here that calls setjmp. run()
// holds no C++ object with a destructor, and the state the error path reads lives in its caller.

#include "imaging/jpeg_reader.h"

#include "imaging/image_buffer.h"

// clang-format off
#include <cstdio> // jpeglib.h needs FILE and size_t first
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <algorithm>
#include <climits>
#include <csetjmp>

namespace vantrel::imaging {

namespace {

constexpr int kMaxScans = 256; // a progressive file needs about a dozen
// Room for what libjpeg allocates besides whole-image buffers (tables, a few MCU rows).
constexpr std::uint64_t kMemorySlack = std::uint64_t{16} << 20;

// What the decode and its error exit share. It lives in the caller of run(), so nothing the
// error path reads after longjmp is held in run()'s registers.
struct Decode {
    jpeg_decompress_struct codec{};
    jpeg_error_mgr errors{};
    jpeg_progress_mgr progress{};
    std::jmp_buf jump;
    JpegColours colours = JpegColours::RgbOrGrey;
    JpegRowSink* sink = nullptr;
    std::uint64_t size = 0; // bytes of the source
    volatile bool accepted = false;
};

Decode& decodeOf(j_common_ptr codec) {
    return *static_cast<Decode*>(codec->client_data);
}

[[noreturn]] void fail(j_common_ptr codec) {
    std::longjmp(decodeOf(codec).jump, 1);
}

// Level -1 is a warning, anything else a trace message. A warning about the data means the
// library has filled in what it could not read (grey rows for a truncated file, zero
// coefficients after a bad code): the decode stops there instead of delivering that picture.
// Only the two warnings about header revisions leave the data whole.
void onMessage(j_common_ptr codec, int level) {
    if (level >= 0) {
        return;
    }
    ++codec->err->num_warnings;
    switch (codec->err->msg_code) {
    case JWRN_JFIF_MAJOR:  // a JFIF revision newer than the library knows
    case JWRN_ADOBE_XFORM: // an unknown Adobe colour transform code, read as YCbCr
        return;
    default:
        fail(codec);
    }
}

void keepQuiet(j_common_ptr) {}

void capScans(j_common_ptr codec) {
    if (reinterpret_cast<j_decompress_ptr>(codec)->input_scan_number > kMaxScans) {
        fail(codec);
    }
}

// Every 8x8 block of a Huffman-coded component costs at least one bit in that component's first
// scan (a DC code is at least one bit long, and a sequential scan adds an end-of-block code), so
// a file of `size` bytes holds at most 8 x size blocks of any component. Arithmetic-coded files
// have no such floor: the coder adapts until an all-zero block costs a tiny fraction of a bit,
// and by convention a scan may even stop before its last blocks (the decoder supplies zeros), so
// a flat page of a few hundred bytes may rightly be large. For them only the decode limits hold.
bool holdsItsBlocks(const jpeg_decompress_struct& codec, std::uint64_t size) {
    if (codec.arith_code) {
        return true;
    }
    std::uint64_t most = 0;
    for (int i = 0; i < codec.num_components; ++i) {
        const jpeg_component_info& c = codec.comp_info[i];
        most = std::max(most, std::uint64_t{c.width_in_blocks} * c.height_in_blocks);
    }
    return most / 8 <= size;
}

// libjpeg-turbo's memory manager (jmemnobs) has no backing store: a whole-image buffer beyond
// max_memory_to_use fails the decode instead of being allocated. A progressive or multi-scan file
// keeps every DCT coefficient (2 bytes per sample of each component), at most twice the output's
// bytes over the frame padded to whole MCUs; three times that plus the slack leaves room for the
// row buffers.
long memoryCap(const jpeg_decompress_struct& codec) {
    const std::uint64_t mcuWidth = 8u * static_cast<unsigned>(codec.max_h_samp_factor);
    const std::uint64_t mcuHeight = 8u * static_cast<unsigned>(codec.max_v_samp_factor);
    const std::uint64_t width = (codec.output_width + mcuWidth - 1) / mcuWidth * mcuWidth;
    const std::uint64_t height = (codec.output_height + mcuHeight - 1) / mcuHeight * mcuHeight;
    const std::uint64_t bytes = width * height * static_cast<unsigned>(codec.output_components);
    return static_cast<long>(std::min<std::uint64_t>(3 * bytes + kMemorySlack, LONG_MAX));
}

Resolution jfifResolution(const jpeg_decompress_struct& codec) {
    if (!codec.saw_JFIF_marker) {
        return {};
    }
    switch (codec.density_unit) {
    case 1:
        return Resolution::dotsPerInch(codec.X_density, codec.Y_density);
    case 2:
        return Resolution::dotsPerCentimetre(codec.X_density, codec.Y_density);
    default:
        return {};
    }
}

// Everything after the library is set up; any library error leaves by longjmp to run().
JpegResult decodeFrom(Decode& d) {
    jpeg_decompress_struct& codec = d.codec;
    jpeg_read_header(&codec, TRUE);
    if (d.colours == JpegColours::Bgr) {
        if (codec.jpeg_color_space == JCS_CMYK || codec.jpeg_color_space == JCS_YCCK) {
            return JpegResult::NotJpeg;
        }
        codec.out_color_space = JCS_EXT_BGR;
    } else if (codec.num_components == 1) {
        codec.out_color_space = JCS_GRAYSCALE;
    } else if (codec.jpeg_color_space == JCS_YCbCr || codec.jpeg_color_space == JCS_RGB) {
        codec.out_color_space = JCS_RGB;
    }
    jpeg_calc_output_dimensions(&codec);
    if (codec.output_components != 1 && codec.output_components != 3) {
        return JpegResult::NotJpeg;
    }
    d.accepted = true;
    const JpegFrame frame{codec.output_width, codec.output_height, codec.output_components,
                          jfifResolution(codec)};
    if (!ImageBuffer::sizeAllowed(frame.width, frame.height) || !holdsItsBlocks(codec, d.size)) {
        return JpegResult::Failed;
    }
    codec.mem->max_memory_to_use = memoryCap(codec);
    jpeg_start_decompress(&codec);
    if (codec.output_width != frame.width || codec.output_height != frame.height ||
        codec.output_components != frame.components || !d.sink->start(frame)) {
        return JpegResult::Failed;
    }
    while (codec.output_scanline < codec.output_height) {
        JSAMPROW row = d.sink->row(codec.output_scanline);
        if (jpeg_read_scanlines(&codec, &row, 1) != 1) {
            return JpegResult::Failed;
        }
    }
    jpeg_finish_decompress(&codec);
    return JpegResult::Decoded;
}

// The one place with a setjmp. Exactly one of `file` and `bytes` is the source.
JpegResult run(Decode& d, std::FILE* file, std::span<const std::uint8_t> bytes) {
    if (setjmp(d.jump) != 0) {
        return d.accepted ? JpegResult::Failed : JpegResult::NotJpeg;
    }
    jpeg_create_decompress(&d.codec);
    d.codec.progress = &d.progress;
    if (file) {
        jpeg_stdio_src(&d.codec, file);
    } else {
        jpeg_mem_src(&d.codec, bytes.data(), static_cast<unsigned long>(bytes.size()));
    }
    return decodeFrom(d);
}

JpegResult readFrom(std::FILE* file, std::span<const std::uint8_t> bytes, std::uint64_t size,
                    JpegColours colours, JpegRowSink& sink) {
    Decode d;
    d.codec.err = jpeg_std_error(&d.errors);
    d.errors.error_exit = fail;
    d.errors.emit_message = onMessage;
    d.errors.output_message = keepQuiet;
    d.codec.client_data = &d; // jpeg_create_decompress keeps it
    d.progress.progress_monitor = capScans;
    d.colours = colours;
    d.sink = &sink;
    d.size = size;
    const JpegResult result = run(d, file, bytes);
    jpeg_destroy_decompress(&d.codec); // also after a failure: frees what the library allocated
    return result;
}

} // namespace

JpegResult readJpeg(std::FILE* file, std::uint64_t size, JpegColours colours, JpegRowSink& sink) {
    return file ? readFrom(file, {}, size, colours, sink) : JpegResult::NotJpeg;
}

JpegResult readJpeg(std::span<const std::uint8_t> bytes, JpegColours colours, JpegRowSink& sink) {
    return readFrom(nullptr, bytes, bytes.size(), colours, sink);
}

} // namespace vantrel::imaging
