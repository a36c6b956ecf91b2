#include "imaging/converter.h"

#include "imaging/atomic_output.h"
#include "imaging/codecs.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vantrel::imaging {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

template <class Encode>
int convert(const std::string& source, const std::string& target, Encode encode) {
    struct stat info;
    if (stat(source.c_str(), &info) != 0) {
        return kSourceMissing;
    }
    ImageBuffer image;
    {
        // Only regular files are read: a folder or a pipe is no picture (and a pipe would block).
        std::unique_ptr<std::FILE, FileCloser> in(
            S_ISREG(info.st_mode) ? std::fopen(source.c_str(), "rb") : nullptr);
        if (!in || !decodePicture(in.get(), static_cast<std::uint64_t>(info.st_size), image)) {
            return kSourceUnreadable;
        }
    }
    AtomicOutputFile out(target);
    if (!out.open() || !encode(image, out.stream()) || !out.commit()) {
        return kTargetNotWritten;
    }
    return kConvertOk;
}

// BMP to BMP for the common source, a 24-bit bottom-up uncompressed BMP: its rows are already the
// target's rows (the padding bytes, whose value is free, come over as they are), so they go from
// file to file in the kernel without passing through a picture buffer. Any other source, or any
// failure before the target is opened, leaves the decision to the general path.
std::optional<int> copyBmpRows(const std::string& source, const std::string& target) {
    struct stat info;
    if (stat(source.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    std::unique_ptr<std::FILE, FileCloser> in(std::fopen(source.c_str(), "rb"));
    BmpRows where;
    if (!in ||
        locateBmpRows(in.get(), static_cast<std::uint64_t>(info.st_size), where) !=
            DecodeStatus::Decoded ||
        where.topDown) {
        return std::nullopt;
    }
    AtomicOutputFile out(target);
    if (!out.open() || !writeBmpHeader(out.stream(), where.width, where.rows) ||
        std::fflush(out.stream()) != 0) {
        return kTargetNotWritten;
    }
    const int from = fileno(in.get());
    const int to = fileno(out.stream());
    auto offset = static_cast<off_t>(where.offset);
    std::uint64_t left = where.stride * where.rows;
    while (left > 0) {
        const ssize_t n = copy_file_range(from, &offset, to, nullptr, left, 0);
        if (n <= 0) {
            // No in-kernel copy here (or the source shrank): plain reads and writes.
            std::vector<char> chunk(1 << 20);
            while (left > 0) {
                const auto want =
                    static_cast<std::size_t>(std::min<std::uint64_t>(left, chunk.size()));
                if (pread(from, chunk.data(), want, offset) != static_cast<ssize_t>(want) ||
                    std::fwrite(chunk.data(), 1, want, out.stream()) != want) {
                    return kTargetNotWritten;
                }
                offset += static_cast<off_t>(want);
                left -= want;
            }
            break;
        }
        left -= static_cast<std::uint64_t>(n);
    }
    return out.commit() ? kConvertOk : kTargetNotWritten;
}

} // namespace

int toJpeg(const std::string& source, const std::string& target, bool grayscale, int quality,
           bool optimise, int smoothing) {
    if (source.empty() || target.empty() || quality < 1 || quality > 100 || smoothing < 0 ||
        smoothing > 100) {
        return kInvalidArguments;
    }
    const JpegSettings settings{grayscale, quality, optimise, smoothing};
    return convert(source, target, [&](const ImageBuffer& image, std::FILE* out) {
        return encodeJpeg(image, out, settings);
    });
}

int toBmp(const std::string& source, const std::string& target) {
    if (source.empty() || target.empty()) {
        return kInvalidArguments;
    }
    if (const auto copied = copyBmpRows(source, target)) {
        return *copied;
    }
    return convert(source, target, encodeBmp);
}

int toPng(const std::string& source, const std::string& target, int depth) {
    if (source.empty() || target.empty() || depth != 24) {
        return kInvalidArguments;
    }
    return convert(source, target, encodePng);
}

} // namespace vantrel::imaging
