#include "tests/support/sane_config.h"

#include "tests/support/sandbox.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace vantrel::test {

const std::string& saneTestConfigDir() {
    static Sandbox folder;
    static const std::string path = folder.path().string();
    return path;
}

const std::string& useSaneTestConfig(const std::vector<SaneSetting>& testConf) {
    const std::string& path = saneTestConfigDir();
    const std::string source = std::string(VANTREL_TEST_SOURCE_DIR) + "/sane";
    std::ifstream in(source + "/test.conf");
    std::ostringstream out;
    for (std::string line; std::getline(in, line);) {
        for (const auto& [key, value] : testConf) {
            if (line.rfind(key + " ", 0) == 0) {
                line = key + " " + value;
            }
        }
        out << line << '\n';
    }
    std::ofstream(path + "/test.conf") << out.str();
    std::ifstream dll(source + "/dll.conf");
    std::ofstream(path + "/dll.conf") << dll.rdbuf();
    setenv("SANE_CONFIG_DIR", path.c_str(), 1);
    return path;
}

} // namespace vantrel::test
