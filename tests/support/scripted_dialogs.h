#pragma once
// A dialog seam for tests: answers come from queues the test fills, every request is recorded,
// and it installs itself for its lifetime. An unexpected request (empty queue) is answered
// with Cancel and marked, so a test can check that nothing unplanned was asked.

#include "platform/dialogs.h"

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::test {

class ScriptedDialogs final : public platform::Dialogs {
public:
    enum class Kind { Message, Input, Folder, OpenFile, SaveFile, Colour };

    struct Record {
        Kind kind;
        platform::MessageRequest message; // for Kind::Message
        platform::InputRequest input;     // for Kind::Input
        std::string title;                // folder and file dialogs
        std::string filter;               // file dialogs
        bool unplanned = false;           // the queue for this kind was empty
    };

    ScriptedDialogs();
    ~ScriptedDialogs() override;

    // Answers, consumed in order per kind. std::nullopt means the user cancels.
    void answerMessage(platform::DialogAnswer answer) { messages_.push_back(answer); }
    void answerText(std::optional<std::string> text) { texts_.push_back(std::move(text)); }
    void answerFolder(std::optional<std::string> path) { folders_.push_back(std::move(path)); }
    void answerOpenFile(std::optional<std::string> path) { openFiles_.push_back(std::move(path)); }
    void answerSaveFile(std::optional<std::string> path) { saveFiles_.push_back(std::move(path)); }
    void answerColour(std::optional<std::uint32_t> colour) { colours_.push_back(colour); }

    // Called with each message before it is answered, as a user would act before pressing OK.
    void whenAsked(std::function<void(const platform::MessageRequest&)> act) {
        onMessage_ = std::move(act);
    }

    const std::vector<Record>& records() const { return records_; }
    std::vector<platform::MessageRequest> messages() const;
    int beeps() const { return beeps_; }
    bool anyUnplanned() const;

    platform::DialogAnswer showMessage(const platform::MessageRequest& request) override;
    std::optional<std::string> askText(const platform::InputRequest& request) override;
    std::optional<std::string> browseFolder(const platform::FolderRequest& request) override;
    std::optional<std::string> chooseOpenFile(const platform::OpenFileRequest& request) override;
    std::optional<std::string> chooseSaveFile(const platform::SaveFileRequest& request) override;
    std::optional<std::uint32_t> chooseColour(std::uint32_t initial) override;
    void beep() override { ++beeps_; }

private:
    std::deque<platform::DialogAnswer> messages_;
    std::deque<std::optional<std::string>> texts_;
    std::deque<std::optional<std::string>> folders_;
    std::deque<std::optional<std::string>> openFiles_;
    std::deque<std::optional<std::string>> saveFiles_;
    std::deque<std::optional<std::uint32_t>> colours_;
    std::vector<Record> records_;
    std::function<void(const platform::MessageRequest&)> onMessage_;
    int beeps_ = 0;
    platform::Dialogs* previous_ = nullptr;
};

} // namespace vantrel::test
