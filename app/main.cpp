// `vantrel`: the command a user or a script runs. `vantrel convert …` converts one picture file in
// this process, which loads no part of Qt and no display library, so a script's conversion starts
// as fast as the file tools it stands beside. Everything else is the window, which this process
// becomes by running vantrel-desktop from its own folder under the same arguments.

#include "imaging/convert_command.h"
#include "platform/page_memory.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "convert") == 0) {
        vantrel::platform::keepPageMemory();
        return vantrel::imaging::runConvertCommand(argc - 1, argv + 1);
    }
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    const std::filesystem::path desktop = self.parent_path() / "vantrel-desktop";
    if (!error) {
        ::execv(desktop.c_str(), argv);
    }
    std::fprintf(stderr, "vantrel: cannot start the window (%s): %s\n", desktop.c_str(),
                 error ? error.message().c_str() : std::strerror(errno));
    return 1;
}
