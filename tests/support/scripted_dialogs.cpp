#include "tests/support/scripted_dialogs.h"

#include <algorithm>

namespace vantrel::test {
namespace {

template <typename T>
std::optional<T> take(std::deque<T>& queue, bool& unplanned) {
    if (queue.empty()) {
        unplanned = true;
        return std::nullopt;
    }
    T value = std::move(queue.front());
    queue.pop_front();
    return value;
}

} // namespace

ScriptedDialogs::ScriptedDialogs()
    : previous_(platform::installDialogs(this)) {}

ScriptedDialogs::~ScriptedDialogs() {
    platform::installDialogs(previous_);
}

std::vector<platform::MessageRequest> ScriptedDialogs::messages() const {
    std::vector<platform::MessageRequest> result;
    for (const auto& r : records_) {
        if (r.kind == Kind::Message) {
            result.push_back(r.message);
        }
    }
    return result;
}

bool ScriptedDialogs::anyUnplanned() const {
    return std::any_of(records_.begin(), records_.end(),
                       [](const Record& r) { return r.unplanned; });
}

platform::DialogAnswer ScriptedDialogs::showMessage(const platform::MessageRequest& request) {
    if (onMessage_) {
        onMessage_(request);
    }
    Record record{Kind::Message, request, {}, {}, {}};
    const auto answer = take(messages_, record.unplanned);
    records_.push_back(record);
    return answer.value_or(platform::DialogAnswer::Cancel);
}

std::optional<std::string> ScriptedDialogs::askText(const platform::InputRequest& request) {
    Record record{Kind::Input, {}, request, request.title, {}};
    auto answer = take(texts_, record.unplanned);
    records_.push_back(record);
    return answer ? *answer : std::nullopt;
}

std::optional<std::string> ScriptedDialogs::browseFolder(const platform::FolderRequest& request) {
    Record record{Kind::Folder, {}, {}, request.title, {}};
    auto answer = take(folders_, record.unplanned);
    records_.push_back(record);
    return answer ? *answer : std::nullopt;
}

std::optional<std::string>
ScriptedDialogs::chooseOpenFile(const platform::OpenFileRequest& request) {
    Record record{Kind::OpenFile, {}, {}, request.title, request.filter};
    auto answer = take(openFiles_, record.unplanned);
    records_.push_back(record);
    return answer ? *answer : std::nullopt;
}

std::optional<std::string>
ScriptedDialogs::chooseSaveFile(const platform::SaveFileRequest& request) {
    Record record{Kind::SaveFile, {}, {}, request.title, request.filter};
    auto answer = take(saveFiles_, record.unplanned);
    records_.push_back(record);
    return answer ? *answer : std::nullopt;
}

std::optional<std::uint32_t> ScriptedDialogs::chooseColour(std::uint32_t) {
    Record record{Kind::Colour, {}, {}, {}, {}};
    auto answer = take(colours_, record.unplanned);
    records_.push_back(record);
    return answer ? *answer : std::nullopt;
}

} // namespace vantrel::test
