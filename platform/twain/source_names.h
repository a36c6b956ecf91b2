#pragma once
// The name a SANE device shows in the device list (TWAIN's ProductName, 32 bytes of UTF-8). It
// says which model it is and where it is - its host for a scanner shared over the network, "USB"
// for one on a USB port, else the SANE device name - so that a network scanner is never mistaken
// for a local one of the same model. Names depend only on the device, never on the list's order,
// so a name saved as the default finds its device again after a restart.

#include <set>
#include <string>

namespace vantrel::twain {

inline constexpr std::size_t kSourceNameBytes = 32;

// Cuts `text` to at most `bytes` bytes without splitting a UTF-8 character.
std::string fitUtf8(const std::string& text, std::size_t bytes);

// Where a device is, from its SANE name: "net:HOST:REMOTE" gives "HOST " and where REMOTE is;
// USB device names give "USB"; anything else is the name itself.
std::string sourceLocation(const std::string& saneName);

// The device's name in the list: "model (where)" when it fits; the model shortened to make room;
// else the model and place cut short with a tag from the SANE name. Never one in `taken`.
std::string sourceNameFor(const std::string& saneName, const std::string& model,
                          const std::set<std::string>& taken);

} // namespace vantrel::twain
