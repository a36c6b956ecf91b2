#pragma once
// The picture format converter: file to file, any JPEG, 24-bit BMP, TIFF, PNG, PCX or PhotoCD
// source to a JPEG, BMP or PNG target. Each call decodes the source into an ImageBuffer, encodes
// the target beside its final name and renames it into place only on success, so a failure never
// leaves a partial file or destroys an earlier one. Calls keep no state between them.

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

// grayscale: write one grey channel; quality 1..100 (baseline tables); smoothing 0..100.
int toJpeg(const std::string& source, const std::string& target, bool grayscale, int quality,
           bool optimise, int smoothing);
int toBmp(const std::string& source, const std::string& target);
// depth must be 24: the output is an Adam7-interlaced 8-bit RGB PNG.
int toPng(const std::string& source, const std::string& target, int depth);

} // namespace vantrel::imaging
