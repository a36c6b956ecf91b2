#pragma once
// Every failure text of the scanner component, in one place. The texts are the program's own and
// stay exactly as they are (the program shows none of them; they are kept for LastError).

#include <string_view>

namespace vantrel::devices::twain_text {

inline constexpr std::string_view kAlreadyInitialised = "您已经初始化过了。";
inline constexpr std::string_view kManagerUnavailable = "打开数据源管理失败。";
inline constexpr std::string_view kUnknownFault = "发生未知的异常";
inline constexpr std::string_view kNoWindow = "在窗口上没有控件";
inline constexpr std::string_view kNoSourceChosen = "还没有选择来源";
inline constexpr std::string_view kNotSupported = "您的硬件不支持此方法";
inline constexpr std::string_view kNoSourceSelected = "没有选择数据源";
inline constexpr std::string_view kCapabilityRefused = "取属性出错，您的硬件可能不支持此属性。";
inline constexpr std::string_view kPixelTypeRange = "象素类型必须是0----8之间.";
inline constexpr std::string_view kLayoutUnreadable = "获取当前的位置信息出错。";

} // namespace vantrel::devices::twain_text
