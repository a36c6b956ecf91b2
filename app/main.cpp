#include "app/application.h"
#include "imaging/convert_command.h"
#include "platform/page_memory.h"

#include <cstring>

int main(int argc, char** argv) {
    // Before any thread starts: a thread that allocates before the heap's policy is set gets a
    // heap of its own, which the policy then cannot make every thread share.
    vantrel::platform::keepPageMemory();
    // `vantrel convert …` converts one picture file and needs no display.
    if (argc > 1 && std::strcmp(argv[1], "convert") == 0) {
        return vantrel::imaging::runConvertCommand(argc - 1, argv + 1);
    }
    return vantrel::app::runDesktop(argc, argv);
}
