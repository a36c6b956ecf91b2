#pragma once
// The state the workflows share for the whole run: the pending-work flags, the captured side of a
// two-sided scan and the colour tolerance of the near-colour test. One instance per process,
// reached through workflowState(); every item starts cleared.

#include <cstdint>
#include <vector>

namespace vantrel::workflows {

struct WorkflowState {
    bool continuousMode = false;
    bool continuousTwoSided = false;
    bool scanPending = false;
    bool copyPending = false;
    bool idCopyFirstSide = false;
    bool idCopySecondSide = false;
    bool sideCapturePending = false;
    // The last acquisition ended without delivering a page (cancelled, failed, closed by the
    // source): the waits that depended on it have ended and that cycle draws and saves nothing.
    bool acquisitionEndedWithoutPage = false;
    std::vector<std::uint8_t> capturedSide; // BMP file bytes of the last captured side
    std::int32_t colourTolerance = 0;
};

WorkflowState& workflowState();

} // namespace vantrel::workflows
