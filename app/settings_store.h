#pragma once
// The persistent copy of the main window's settings: section "设置" of the settings file. Nothing
// is cached; every read and every write goes to the file at that moment.

#include <QString>
#include <filesystem>
#include <string_view>

namespace vantrel::app {

namespace settings_key {
inline constexpr std::string_view kResolution = "分辨率";
inline constexpr std::string_view kColourTolerance = "色差值";
inline constexpr std::string_view kColourMode = "色彩模式";
inline constexpr std::string_view kPictureFormat = "图片格式";
inline constexpr std::string_view kSaveFolder = "保存目录";
inline constexpr std::string_view kOverlay = "扫描叠加";
inline constexpr std::string_view kTransparentColour = "白色透明";
inline constexpr std::string_view kJpegQuality = "JPG质量";
inline constexpr std::string_view kDefaultDevice = "默认机器";
} // namespace settings_key

class SettingsStore {
public:
    static constexpr std::string_view kSection = "设置";

    explicit SettingsStore(std::filesystem::path file)
        : file_(std::move(file)) {}

    QString read(std::string_view key, const QString& fallback = {}) const;
    // A failed write (read-only file, unwritable folder) silently keeps the old content.
    void write(std::string_view key, const QString& value) const;

    const std::filesystem::path& file() const { return file_; }

private:
    std::filesystem::path file_;
};

} // namespace vantrel::app
