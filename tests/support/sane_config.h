#pragma once
// The project's SANE configuration (sane/: the test backend only) for tests, with lines of
// test.conf replaced, in one folder per test process that SANE_CONFIG_DIR then names. libsane
// reads SANE_CONFIG_DIR once per process, so every call rewrites the files of the same folder.

#include <string>
#include <utility>
#include <vector>

namespace vantrel::test {

using SaneSetting = std::pair<std::string, std::string>;

// Writes the configuration, points SANE_CONFIG_DIR at it and returns the folder.
const std::string& useSaneTestConfig(const std::vector<SaneSetting>& testConf = {});

// The folder, as last written (for programs started by the test, such as scanimage).
const std::string& saneTestConfigDir();

} // namespace vantrel::test
