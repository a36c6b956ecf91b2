#pragma once
// Every text the printer component shows or hands to the platform, in one place (UTF-8).

namespace vantrel::devices::printer_text {

inline constexpr const char* kUnnamedJob = "未命名打印作业";

// The print-to-file save dialog.
inline constexpr const char* kPrintToFileTitle = "打印到文件";
inline constexpr const char* kPrintToFileName = "Output.prn";
inline constexpr const char* kPrintToFileExtension = "prn";
inline constexpr const char* kPrintToFileFilter = "打印输出文件 (*.prn)|*.prn|所有文件 (*.*)|*.*";

// The progress window.
inline constexpr const char* kProgressCaption = "正在进行打印，请稍候 ......";
inline constexpr const char* kJobNameLabel = "打印作业名：";
inline constexpr const char* kDestinationLabel = "打印目的：";
inline constexpr const char* kCopiesLabel = "已打印份数：";
inline constexpr const char* kPageLabel = "当前页号：";
inline constexpr const char* kAbortButton = "中止打印";
// "%1 上的 %2": the printer's name, then its port.
inline constexpr const char* kPrinterOnPort = "%1 上的 %2";

} // namespace vantrel::devices::printer_text
