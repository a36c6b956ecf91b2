#include "imaging/converter.h"

#include "imaging/codecs.h"
#include "platform/atomic_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vantrel::imaging {

namespace {

// Names beyond this many taken in a row mean something else is wrong (a folder filling with
// names as fast as we try them).
constexpr int kNameAttempts = 1000;

// Progress: decoding takes the first share, encoding runs up to kEncodedPermille, and the last
// thousandths are left for flushing the file to disk and giving it its name. Decoding the
// program's BMP source is quick next to encoding a JPEG or PNG, so its share is smaller there.
constexpr int kDecodeShareBeforeJpegOrPng = 200;
constexpr int kDecodeShareBeforeBmp = 500;
constexpr int kEncodedPermille = 990;
constexpr int kDonePermille = 1000;
// The BMP-to-BMP copy moves this much at a time, so that its progress can be reported.
constexpr std::size_t kCopyChunkBytes = std::size_t{8} << 20;

void report(ConversionProgress* progress, int permille) {
    if (progress) {
        progress->permille.store(permille, std::memory_order_relaxed);
    }
}

thread_local std::string tLastError;
thread_local int tLastErrno = 0;

int fail(int code, const std::string& file, const std::string& reason, int error = 0) {
    tLastError = file.empty() ? reason : file + ": " + reason;
    tLastErrno = error;
    return code;
}

// strerror_r: strerror may share one buffer between threads for unknown codes.
std::string errnoText(int error) {
    if (error == 0) {
        return "unknown error";
    }
    char buffer[256];
    return strerror_r(error, buffer, sizeof buffer); // the GNU form: returns the text
}

struct FdCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FdCloser>;

// The source opened for reading, or a result code with its reason. Only regular files are read:
// a folder is no picture, and a pipe or device could block the caller for ever (the open itself
// does not block: O_NONBLOCK, which a regular file ignores).
struct Source {
    File file;
    std::uint64_t size = 0;
};
std::optional<int> openSource(const std::string& name, Source& source) {
    const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        return error == ENOENT || error == ENOTDIR
                   ? fail(kSourceMissing, name, "no such file")
                   : fail(kSourceUnreadable, name, "cannot be opened: " + errnoText(error), error);
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return fail(kSourceUnreadable, name, "not a regular file");
    }
    source.file.reset(::fdopen(fd, "rb"));
    if (!source.file) {
        ::close(fd);
        return fail(kSourceUnreadable, name, "cannot be read: " + errnoText(errno));
    }
    source.size = static_cast<std::uint64_t>(info.st_size);
    return std::nullopt;
}

// Why a source that was opened gave no picture.
int decodeFailure(const std::string& name) {
    if (const int error = lastStorageError()) {
        const char* dir = std::getenv("TMPDIR");
        return fail(kSourceUnreadable, name,
                    std::string("no room for the picture in the temporary folder ") +
                        (dir && *dir ? dir : "/tmp") + ": " + errnoText(error),
                    error);
    }
    return fail(kSourceUnreadable, name,
                "not a picture that can be read (an unknown format, a broken or truncated file, "
                "or larger than the size limits)");
}

} // namespace

ConvertTarget ConvertTarget::replacing(std::string path) {
    ConvertTarget target;
    target.first_ = target.path_ = std::move(path);
    return target;
}

ConvertTarget ConvertTarget::newFile(std::function<std::string(int)> nameFor) {
    ConvertTarget target;
    target.first_ = target.path_ = nameFor ? nameFor(1) : std::string();
    target.nameFor_ = std::move(nameFor);
    return target;
}

const std::string& lastConversionError() {
    return tLastError;
}

int lastConversionErrno() {
    return tLastErrno;
}

// The target's working file through to its final name.
class TargetWriter {
public:
    explicit TargetWriter(ConvertTarget& target)
        : target_(target)
        , file_(target.first_,
                target.nameFor_ ? platform::Placement::NewOnly : platform::Placement::Replace) {}

    std::optional<int> open() {
        if (!file_.open()) {
            return failed();
        }
        if (!file_.stream()) {
            return failed();
        }
        return std::nullopt;
    }
    std::FILE* stream() { return file_.stream(); }

    int commit() {
        errno = 0;
        if (!target_.nameFor_) {
            if (!file_.commit()) {
                return failed();
            }
            target_.path_ = file_.target().string();
            return kConvertOk;
        }
        const auto taken = file_.commitUnderFreeName(
            [this](int n) { return std::filesystem::path(target_.nameFor_(n)); }, kNameAttempts);
        if (!taken) {
            return failed();
        }
        target_.path_ = taken->string();
        return kConvertOk;
    }
    // An encoder stopped: the reason is the stream's error when it has one.
    int encodeFailed() {
        const int error = errno;
        return fail(kTargetNotWritten, target_.first_,
                    error == 0 ? "the picture could not be encoded" : errnoText(error), error);
    }

private:
    int failed() {
        const int error = errno;
        return fail(kTargetNotWritten, target_.first_,
                    error == EEXIST ? "no free file name" : errnoText(error), error);
    }
    ConvertTarget& target_;
    platform::AtomicFile file_;
};

namespace {

// Decodes the source and hands the picture to `encode(image, stream, rowProgress)`.
template <class Encode>
int convert(const std::string& sourceName, ConvertTarget& target, ConversionProgress* progress,
            int decodeShare, Encode encode) {
    tLastError.clear();
    tLastErrno = 0;
    report(progress, 0);
    ImageBuffer image;
    try {
        Source source;
        if (const auto code = openSource(sourceName, source)) {
            return *code;
        }
        if (!decodePicture(source.file.get(), source.size, image,
                           RowProgress(progress, 0, decodeShare))) {
            return decodeFailure(sourceName);
        }
    } catch (const std::bad_alloc&) {
        return fail(kSourceUnreadable, sourceName, "out of memory while decoding", ENOMEM);
    }
    try {
        TargetWriter out(target);
        if (const auto code = out.open()) {
            return *code;
        }
        errno = 0;
        if (!encode(image, out.stream(), RowProgress(progress, decodeShare, kEncodedPermille))) {
            return out.encodeFailed();
        }
        const int result = out.commit();
        if (result == kConvertOk) {
            report(progress, kDonePermille);
        }
        return result;
    } catch (const std::bad_alloc&) {
        return fail(kTargetNotWritten, target.path(), "out of memory while encoding", ENOMEM);
    }
}

// BMP to BMP for the common source, a 24-bit bottom-up uncompressed BMP: its rows are already the
// target's rows (the padding bytes, whose value is free, come over as they are), so they go from
// file to file in the kernel without passing through a picture buffer. Any other source leaves
// the decision to the general path.
std::optional<int> copyBmpRows(const std::string& sourceName, ConvertTarget& target,
                               ConversionProgress* progress) {
    tLastError.clear();
    tLastErrno = 0;
    report(progress, 0);
    Source source;
    if (openSource(sourceName, source)) {
        return std::nullopt; // the general path reports it
    }
    BmpRows where;
    if (locateBmpRows(source.file.get(), source.size, where) != DecodeStatus::Decoded ||
        where.topDown) {
        return std::nullopt;
    }
    TargetWriter out(target);
    if (const auto code = out.open()) {
        return *code;
    }
    errno = 0;
    if (!writeBmpHeader(out.stream(), where.width, where.rows, where.resolution) ||
        std::fflush(out.stream()) != 0) {
        return out.encodeFailed();
    }
    const int from = fileno(source.file.get());
    const int to = fileno(out.stream());
    auto offset = static_cast<off_t>(where.offset);
    const std::uint64_t total = where.stride * where.rows;
    std::uint64_t left = total;
    const RowProgress copied(progress, 0, kEncodedPermille);
    while (left > 0) {
        const auto step = static_cast<std::size_t>(std::min<std::uint64_t>(left, kCopyChunkBytes));
        const ssize_t n = copy_file_range(from, &offset, to, nullptr, step, 0);
        if (n < 0 && (errno == ENOSPC || errno == EDQUOT || errno == EFBIG || errno == EIO)) {
            return out.encodeFailed();
        }
        if (n <= 0) {
            // No in-kernel copy here (or the source shrank): plain reads and writes.
            std::vector<char> chunk(1 << 20);
            while (left > 0) {
                const auto want =
                    static_cast<std::size_t>(std::min<std::uint64_t>(left, chunk.size()));
                if (pread(from, chunk.data(), want, offset) != static_cast<ssize_t>(want)) {
                    return fail(kSourceUnreadable, sourceName, "shorter than its header says");
                }
                if (std::fwrite(chunk.data(), 1, want, out.stream()) != want) {
                    return out.encodeFailed();
                }
                offset += static_cast<off_t>(want);
                left -= want;
                copied.update(total - left, total);
            }
            break;
        }
        left -= static_cast<std::uint64_t>(n);
        copied.update(total - left, total);
    }
    const int result = out.commit();
    if (result == kConvertOk) {
        report(progress, kDonePermille);
    }
    return result;
}

bool namesPresent(const std::string& source, const ConvertTarget& target) {
    if (source.empty() || target.empty()) {
        fail(kInvalidArguments, "", "a source and a target file name are needed");
        return false;
    }
    return true;
}

} // namespace

int toJpeg(const std::string& source, ConvertTarget& target, bool grayscale, int quality,
           bool optimise, int smoothing, ConversionProgress* progress) {
    if (!namesPresent(source, target)) {
        return kInvalidArguments;
    }
    if (quality < 1 || quality > 100 || smoothing < 0 || smoothing > 100) {
        return fail(kInvalidArguments, "",
                    "the quality must be 1 to 100 and the smoothing 0 to 100");
    }
    const JpegSettings settings{grayscale, quality, optimise, smoothing};
    return convert(source, target, progress, kDecodeShareBeforeJpegOrPng,
                   [&](const ImageBuffer& image, std::FILE* out, const RowProgress& rows) {
                       return encodeJpeg(image, out, settings, rows);
                   });
}

int toBmp(const std::string& source, ConvertTarget& target, ConversionProgress* progress) {
    if (!namesPresent(source, target)) {
        return kInvalidArguments;
    }
    try {
        if (const auto copied = copyBmpRows(source, target, progress)) {
            return *copied;
        }
    } catch (const std::bad_alloc&) {
        return fail(kTargetNotWritten, target.path(), "out of memory while copying", ENOMEM);
    }
    return convert(source, target, progress, kDecodeShareBeforeBmp,
                   [](const ImageBuffer& image, std::FILE* out, const RowProgress& rows) {
                       return encodeBmp(image, out, rows);
                   });
}

int toPng(const std::string& source, ConvertTarget& target, int depth,
          ConversionProgress* progress) {
    if (!namesPresent(source, target)) {
        return kInvalidArguments;
    }
    if (depth != 24) {
        return fail(kInvalidArguments, "", "the PNG depth must be 24");
    }
    return convert(source, target, progress, kDecodeShareBeforeJpegOrPng,
                   [](const ImageBuffer& image, std::FILE* out, const RowProgress& rows) {
                       return encodePng(image, out, rows);
                   });
}

int toJpeg(const std::string& source, const std::string& target, bool grayscale, int quality,
           bool optimise, int smoothing, ConversionProgress* progress) {
    auto replacing = ConvertTarget::replacing(target);
    return toJpeg(source, replacing, grayscale, quality, optimise, smoothing, progress);
}

int toBmp(const std::string& source, const std::string& target, ConversionProgress* progress) {
    auto replacing = ConvertTarget::replacing(target);
    return toBmp(source, replacing, progress);
}

int toPng(const std::string& source, const std::string& target, int depth,
          ConversionProgress* progress) {
    auto replacing = ConvertTarget::replacing(target);
    return toPng(source, replacing, depth, progress);
}

} // namespace vantrel::imaging
