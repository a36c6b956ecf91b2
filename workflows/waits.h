#pragma once
// Waiting for a page while the window stays alive: window messages are processed until a workflow
// flag is cleared. The longest pause between two checks is 1000 milliseconds; the wait ends as
// soon as the flag clears, with no delay added.

namespace vantrel::workflows {

void waitWhileSet(const bool& flag);

} // namespace vantrel::workflows
