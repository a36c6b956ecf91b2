#include "tools/artwork/artwork_resources.h"

#include <QtCore/qresource.h>

// Q_INIT_RESOURCE declares a function in the current namespace, so it must run outside ours.
static void initArtworkResources() {
    Q_INIT_RESOURCE(artwork);
}

namespace vantrel::artwork {

void initResources() {
    initArtworkResources();
}

} // namespace vantrel::artwork
