#include "app/application.h"
#include "imaging/convert_command.h"

#include <cstring>

int main(int argc, char** argv) {
    // `vantrel convert …` converts one picture file and needs no display.
    if (argc > 1 && std::strcmp(argv[1], "convert") == 0) {
        return vantrel::imaging::runConvertCommand(argc - 1, argv + 1);
    }
    return vantrel::app::runDesktop(argc, argv);
}
