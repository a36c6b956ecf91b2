#include "imaging/converter.h"

#include "imaging/atomic_output.h"
#include "imaging/codecs.h"

#include <cstdio>
#include <memory>
#include <sys/stat.h>

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
    return convert(source, target, encodeBmp);
}

int toPng(const std::string& source, const std::string& target, int depth) {
    if (source.empty() || target.empty() || depth != 24) {
        return kInvalidArguments;
    }
    return convert(source, target, encodePng);
}

} // namespace vantrel::imaging
