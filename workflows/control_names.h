#pragma once
// Names of the main window's controls, as the handlers and workflows refer to them. The window's
// definition (app/main_window_definition.cpp) gives each its kind, place and content.

#include <string_view>

namespace vantrel::control {
inline constexpr std::string_view kMainWindow = "主窗口";
inline constexpr std::string_view kToolbar = "工具条1";
inline constexpr std::string_view kDeviceList = "组合框1";
inline constexpr std::string_view kRefreshButton = "按钮1";
inline constexpr std::string_view kScanner = "数码设备1";
inline constexpr std::string_view kColourModeList = "组合框2";
inline constexpr std::string_view kResolutionBox = "编辑框1";
inline constexpr std::string_view kOverlayCheckBox = "选择框4";
inline constexpr std::string_view kTransparentColourPicker = "颜色选择器1";
inline constexpr std::string_view kBackgroundPathBox = "编辑框3";
inline constexpr std::string_view kChooseBackgroundButton = "按钮2";
inline constexpr std::string_view kClearBackgroundButton = "按钮3";
inline constexpr std::string_view kFileDialog = "通用对话框1";
inline constexpr std::string_view kSaveFolderBox = "编辑框2";
inline constexpr std::string_view kBrowseFolderButton = "按钮5";
inline constexpr std::string_view kFormatList = "组合框3";
inline constexpr std::string_view kQualitySlider = "滑块条1";
inline constexpr std::string_view kQualityLabel = "标签9";
inline constexpr std::string_view kSaveButton = "按钮6";
inline constexpr std::string_view kSaveAndOpenButton = "按钮7";
inline constexpr std::string_view kSavedFilesList = "超级列表框1";
inline constexpr std::string_view kThumbnail = "图片框2";
inline constexpr std::string_view kPreviewFrame = "图片框1";
inline constexpr std::string_view kPreviewSurface = "画板1";
inline constexpr std::string_view kPreviewHScroll = "横向滚动条1";
inline constexpr std::string_view kPreviewVScroll = "纵向滚动条1";
inline constexpr std::string_view kProgressPanel = "图片框3";
inline constexpr std::string_view kProgressTitle = "标签10";
inline constexpr std::string_view kProgressPercent = "标签11";
inline constexpr std::string_view kBusyAnimation = "图片框4";
inline constexpr std::string_view kPrinter = "打印机1";
inline constexpr std::string_view kToleranceMenuItem = "色差值";
} // namespace vantrel::control
