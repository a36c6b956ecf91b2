#include "imaging/convert_command.h"

#include "imaging/converter.h"

#include <charconv>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel::imaging {

namespace {

constexpr const char* kUsage =
    "usage: vantrel convert --to jpg|bmp|png [--quality N] SOURCE TARGET\n"
    "  --quality N  JPEG quality 1-100 (default 100)\n"
    "Prints the result: 1 done, -1 no source file, -3 source not a readable picture,\n"
    "-4 target not written, -7 invalid arguments.\n";

struct Request {
    std::string format;
    int quality = 100;
    bool qualityGiven = false;
    std::vector<std::string> files;
};

std::optional<int> parseInt(std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<Request> parse(int argc, char** argv) {
    Request request;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && (arg == "--to" || arg == "--quality")) {
            if (i + 1 >= argc) {
                return std::nullopt;
            }
            const std::string_view value = argv[++i];
            if (arg == "--to") {
                request.format = value;
            } else {
                const auto quality = parseInt(value);
                if (!quality) {
                    return std::nullopt;
                }
                request.quality = *quality;
                request.qualityGiven = true;
            }
        } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            return std::nullopt;
        } else {
            request.files.emplace_back(arg);
        }
    }
    const bool knownFormat =
        request.format == "jpg" || request.format == "bmp" || request.format == "png";
    if (!knownFormat || request.files.size() != 2 ||
        (request.qualityGiven && request.format != "jpg")) {
        return std::nullopt;
    }
    return request;
}

} // namespace

int runConvertCommand(int argc, char** argv) {
    int code = kInvalidArguments;
    if (const auto request = parse(argc, argv)) {
        const std::string& source = request->files[0];
        const std::string& target = request->files[1];
        if (request->format == "jpg") {
            code = toJpeg(source, target, false, request->quality, true, 0);
        } else if (request->format == "bmp") {
            code = toBmp(source, target);
        } else {
            code = toPng(source, target, 24);
        }
        if (code != kConvertOk) {
            std::fprintf(stderr, "vantrel convert: %s\n", lastConversionError().c_str());
        }
    } else {
        std::fputs(kUsage, stderr);
    }
    std::printf("%d\n", code);
    std::fflush(stdout);
    return code == kConvertOk ? 0 : 1;
}

} // namespace vantrel::imaging
