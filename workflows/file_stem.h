#pragma once
// Names of saved pictures: the local date and time of the save as 14 digits (year, then month,
// day, hour, minute and second as two digits each), and a name in the save folder that no earlier
// file has.

#include <ctime>
#include <filesystem>
#include <string>

namespace vantrel::workflows {

// "20180816090503" for 16 August 2018, 09:05:03. The year is written in plain decimal.
std::string MakeFileStem(const std::tm& localTime);

// The current local date and time.
std::tm localNow();

// folder/stem + extension, or, when a file or folder of that name exists already (two saves in
// the same second), folder/stem-2 + extension, stem-3, … : a save never replaces an earlier one.
std::filesystem::path freeTargetPath(const std::filesystem::path& folder, const std::string& stem,
                                     const std::string& extension);

} // namespace vantrel::workflows
