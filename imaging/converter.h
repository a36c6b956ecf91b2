#pragma once
// The picture format converter: file to file, any JPEG, 24-bit BMP, TIFF, PNG, PCX or PhotoCD
// source to a JPEG, BMP or PNG target. Each call decodes the source into an ImageBuffer and
// encodes the target through platform::AtomicFile: the file appears under its name only when it
// is complete and on disk, so a failure or a crash never leaves a partial file and never destroys
// an earlier one. Calls keep no state between them.

#include <functional>
#include <string>

namespace vantrel::imaging {

// Result codes: one table for the component.
enum ConvertResult : int {
    kConvertOk = 1,         // the target file is written completely
    kSourceMissing = -1,    // the source file does not exist
    kSourceUnreadable = -3, // no decoder accepted the source, or the accepting one failed
    kTargetNotWritten = -4, // the target could not be written (or the conversion failed)
    kInvalidArguments = -7, // a missing name, or an option outside its range
};

// Where a conversion puts its result.
class ConvertTarget {
public:
    // Over `path`: an existing file is replaced, unless it is read-only or not a regular file
    // (then the conversion fails with kTargetNotWritten and the file stays as it was).
    static ConvertTarget replacing(std::string path);
    // Under a name that no file has: nameFor(1), or when that is taken by the time the file is
    // complete, nameFor(2), nameFor(3), ... An existing file is never replaced.
    static ConvertTarget newFile(std::function<std::string(int attempt)> nameFor);

    bool empty() const { return first_.empty(); }
    // The name the file took, after a successful conversion (before it: the first name).
    const std::string& path() const { return path_; }

private:
    friend class TargetWriter;
    std::string first_;
    std::string path_;
    std::function<std::string(int)> nameFor_; // empty when replacing
};

// grayscale: write one grey channel; quality 1..100 (baseline tables); smoothing 0..100.
int toJpeg(const std::string& source, ConvertTarget& target, bool grayscale, int quality,
           bool optimise, int smoothing);
int toBmp(const std::string& source, ConvertTarget& target);
// depth must be 24: the output is an Adam7-interlaced 8-bit RGB PNG.
int toPng(const std::string& source, ConvertTarget& target, int depth);

// The same, replacing `target`.
int toJpeg(const std::string& source, const std::string& target, bool grayscale, int quality,
           bool optimise, int smoothing);
int toBmp(const std::string& source, const std::string& target);
int toPng(const std::string& source, const std::string& target, int depth);

// One line saying why the last conversion on this thread failed (the file and the reason), for
// the command line; empty after a success.
const std::string& lastConversionError();
// The system error behind it (ENOSPC for a full disk, say), or 0 when there was none.
int lastConversionErrno();

} // namespace vantrel::imaging
