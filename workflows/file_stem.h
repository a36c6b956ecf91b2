#pragma once
// Names of saved pictures: the local date and time of the save as 14 digits (year, then month,
// day, hour, minute and second as two digits each), numbered when that name is taken.

#include <ctime>
#include <filesystem>
#include <string>

namespace vantrel::workflows {

// "20180816090503" for 16 August 2018, 09:05:03. The year is written in plain decimal.
std::string MakeFileStem(const std::tm& localTime);

// The current local date and time.
std::tm localNow();

// The name a saved picture tries on its `attempt`-th go: folder/stem + extension first, then,
// while those are taken (two saves in the same second), folder/stem-2 + extension, stem-3, ...
// The save takes a name only if no file has it, so a save never replaces an earlier one.
std::filesystem::path savedPictureName(const std::filesystem::path& folder, const std::string& stem,
                                       const std::string& extension, int attempt);

} // namespace vantrel::workflows
