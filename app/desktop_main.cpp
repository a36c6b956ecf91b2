// vantrel-desktop: the window, started by `vantrel` (which handles `vantrel convert` itself).

#include "app/application.h"
#include "platform/page_memory.h"

int main(int argc, char** argv) {
    // Before any thread starts: a thread that allocates before the heap's policy is set gets a
    // heap of its own, which the policy then cannot make every thread share.
    vantrel::platform::keepPageMemory();
    return vantrel::app::runDesktop(argc, argv);
}
