#pragma once
// The one seam through which the program talks to the user: message boxes, the input box, the
// folder browser, the file dialogs, the colour chooser and the beep. The real implementation
// (ui/qt_dialogs.h) shows Qt dialogs; tests install a scripted one that answers from a queue and
// records every request. Texts are UTF-8.

#include <cstdint>
#include <optional>
#include <string>

namespace vantrel::platform {

enum class MessageIcon { None, Information, Question, Warning, Error };
enum class MessageButtons { Ok, OkCancel };
enum class DialogAnswer { Ok, Cancel };

// The caption every program message carries unless a caller says otherwise.
inline constexpr const char* kMessageCaption = "信息：";

struct MessageRequest {
    std::string text;
    std::string caption = kMessageCaption;
    MessageButtons buttons = MessageButtons::Ok;
    MessageIcon icon = MessageIcon::None;
};

struct InputRequest {
    std::string title;
    std::string prompt;
    std::string initialText; // shown selected in full
    std::string okCaption;
    std::string cancelCaption;
    std::string allowedCharacters; // characters the user may type; empty means any
};

struct FolderRequest {
    std::string title;
};

struct OpenFileRequest {
    // Filter in "description|pattern;pattern|description|pattern" form.
    std::string filter;
    std::string title; // empty: the dialog's own default title
};

struct SaveFileRequest {
    std::string filter;
    std::string title;
    std::string suggestedName;
};

class Dialogs {
public:
    virtual ~Dialogs() = default;
    virtual DialogAnswer showMessage(const MessageRequest& request) = 0;
    // The entered text, or nothing when the user cancels.
    virtual std::optional<std::string> askText(const InputRequest& request) = 0;
    // An absolute folder path, or nothing when the user cancels.
    virtual std::optional<std::string> browseFolder(const FolderRequest& request) = 0;
    virtual std::optional<std::string> chooseOpenFile(const OpenFileRequest& request) = 0;
    virtual std::optional<std::string> chooseSaveFile(const SaveFileRequest& request) = 0;
    // A colour value 0x00BBGGRR, or nothing when the user cancels.
    virtual std::optional<std::uint32_t> chooseColour(std::uint32_t initial) = 0;
    virtual void beep() = 0;
};

// The dialogs in force. Until one is installed, every request is cancelled and nothing is shown,
// so code that runs without a user (the command line, tests) never blocks on a dialog.
Dialogs& dialogs();

// Installs `seam` (not owned; nullptr restores the silent default) and returns the previous one.
Dialogs* installDialogs(Dialogs* seam);

} // namespace vantrel::platform
