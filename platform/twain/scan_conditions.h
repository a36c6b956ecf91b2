#pragma once
// Why a scan ended without a page, as the condition code the source reports through DAT_STATUS:
// from the status SANE gave for the scan (sane_start or sane_read).

#include "platform/twain/twain.h"

#include <sane/sane.h>

namespace vantrel::twain {

constexpr TW_UINT16 conditionForScanStatus(int status) {
    switch (status) {
    case SANE_STATUS_NO_DOCS:
        return TWCC_NOMEDIA;
    case SANE_STATUS_JAMMED:
        return TWCC_PAPERJAM;
    case SANE_STATUS_COVER_OPEN:
        return TWCC_INTERLOCK;
    case SANE_STATUS_CANCELLED:
        return TWCC_SCANCANCELLED;
    case SANE_STATUS_NO_MEM:
        return TWCC_LOWMEMORY;
    default:
        return TWCC_OPERATIONERROR;
    }
}

} // namespace vantrel::twain
