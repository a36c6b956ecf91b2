#pragma once
// The picture format converter: file to file, any JPEG, 24-bit BMP, TIFF, PNG, PCX or PhotoCD
// source to a JPEG, BMP or PNG target. Each call decodes the source into an ImageBuffer and
// encodes the target through platform::AtomicFile: the file appears under its name only when it
// is complete and on disk, so a failure or a crash never leaves a partial file and never destroys
// an earlier one. Calls keep no state between them.
//
// The source's resolution goes into the target when the source carries one (BMP pixels per metre,
// JPEG JFIF density in dots per inch or per centimetre, PNG pHYs in metres, TIFF X/YResolution in
// inches or centimetres): JPEG as a JFIF density in dots per inch, PNG as pHYs, BMP as pixels per
// metre. Without one the target's fields are JFIF 1:1 with no unit, no pHYs, and BMP 0.
//
// Threads: a conversion may run on any thread, several at once. It shares no mutable state with
// other conversions or with the rest of the imaging layer (the drawing surface, registered
// pictures); lastConversionError and lastConversionErrno are kept per thread.

#include <atomic>
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

// How far a conversion has come, for a progress display on another thread. The conversion sets
// permille to 0 when it starts, raises it (never lowers it) as rows are decoded and encoded, and
// sets 1000 once the target is in place; a failed conversion leaves it where it stopped. Writes
// are relaxed stores, at most one per row; read it with a relaxed load.
struct ConversionProgress {
    std::atomic<int> permille{0};
};

// grayscale: write one grey channel; quality 1..100 (baseline tables); smoothing 0..100.
// `progress`, when given, is updated during the call (see ConversionProgress).
int toJpeg(const std::string& source, ConvertTarget& target, bool grayscale, int quality,
           bool optimise, int smoothing, ConversionProgress* progress = nullptr);
int toBmp(const std::string& source, ConvertTarget& target, ConversionProgress* progress = nullptr);
// depth must be 24: the output is an Adam7-interlaced 8-bit RGB PNG.
int toPng(const std::string& source, ConvertTarget& target, int depth,
          ConversionProgress* progress = nullptr);

// The same, replacing `target`.
int toJpeg(const std::string& source, const std::string& target, bool grayscale, int quality,
           bool optimise, int smoothing, ConversionProgress* progress = nullptr);
int toBmp(const std::string& source, const std::string& target,
          ConversionProgress* progress = nullptr);
int toPng(const std::string& source, const std::string& target, int depth,
          ConversionProgress* progress = nullptr);

// One line saying why the last conversion on this thread failed (the file and the reason), for
// the command line; empty after a success.
const std::string& lastConversionError();
// The system error behind it (ENOSPC for a full disk, say), or 0 when there was none.
int lastConversionErrno();

} // namespace vantrel::imaging
