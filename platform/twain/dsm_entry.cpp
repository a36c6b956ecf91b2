// The one exported function of the source manager library.

#include "platform/twain/source_manager.h"

extern "C" __attribute__((visibility("default"))) TW_UINT16
DSM_Entry(pTW_IDENTITY origin, pTW_IDENTITY destination, TW_UINT32 group, TW_UINT16 dat,
          TW_UINT16 message, TW_MEMREF data) {
    // Nothing may leave a C entry point as an exception.
    try {
        return vantrel::twain::SourceManager::instance().entry(origin, destination, group, dat,
                                                               message, data);
    } catch (...) {
        return TWRC_FAILURE;
    }
}
