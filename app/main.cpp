#include "app/application.h"

int main(int argc, char** argv) {
    return vantrel::app::runDesktop(argc, argv);
}
