#include "platform/dialogs.h"

#include "platform/seam.h"

namespace vantrel::platform {
namespace {

class SilentDialogs final : public Dialogs {
public:
    DialogAnswer showMessage(const MessageRequest&) override { return DialogAnswer::Cancel; }
    std::optional<std::string> askText(const InputRequest&) override { return std::nullopt; }
    std::optional<std::string> browseFolder(const FolderRequest&) override { return std::nullopt; }
    std::optional<std::string> chooseOpenFile(const OpenFileRequest&) override {
        return std::nullopt;
    }
    std::optional<std::string> chooseSaveFile(const SaveFileRequest&) override {
        return std::nullopt;
    }
    std::optional<std::uint32_t> chooseColour(std::uint32_t) override { return std::nullopt; }
    void beep() override {}
};

SilentDialogs silentDialogs;
constinit Seam<Dialogs> seam(silentDialogs);

} // namespace

Dialogs& dialogs() {
    return seam.current();
}

Dialogs* installDialogs(Dialogs* replacement) {
    return seam.install(replacement);
}

} // namespace vantrel::platform
