#pragma once
// The real dialog seam: Qt message boxes, the input box, the folder browser, file dialogs and the
// colour chooser. Message boxes have no owner and block every window of the program while open.

#include "platform/dialogs.h"

#include <QString>

namespace vantrel::ui {

class QtDialogs final : public platform::Dialogs {
public:
    platform::DialogAnswer showMessage(const platform::MessageRequest& request) override;
    std::optional<std::string> askText(const platform::InputRequest& request) override;
    std::optional<std::string> browseFolder(const platform::FolderRequest& request) override;
    std::optional<std::string> chooseOpenFile(const platform::OpenFileRequest& request) override;
    std::optional<std::string> chooseSaveFile(const platform::SaveFileRequest& request) override;
    std::optional<std::uint32_t> chooseColour(std::uint32_t initial) override;
    void beep() override;
};

// Turns a "description|pattern;pattern|..." filter into Qt's "description (pattern pattern);;..."
// form. The description is kept as it stands; patterns are separated by blanks.
QString toQtFileFilter(const std::string& filter);

} // namespace vantrel::ui
