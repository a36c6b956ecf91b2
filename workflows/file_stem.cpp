#include "workflows/file_stem.h"

#include <cstdio>

namespace vantrel::workflows {

std::string MakeFileStem(const std::tm& t) {
    char text[64];
    std::snprintf(text, sizeof text, "%d%02d%02d%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

std::tm localNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

std::filesystem::path savedPictureName(const std::filesystem::path& folder, const std::string& stem,
                                       const std::string& extension, int attempt) {
    return folder /
           (attempt <= 1 ? stem + extension : stem + "-" + std::to_string(attempt) + extension);
}

} // namespace vantrel::workflows
