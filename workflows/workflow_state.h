#pragma once
// The state the workflows share for the whole run: the pending-work flags, the captured side of a
// two-sided scan and the colour tolerance of the near-colour test. One instance per process,
// reached through workflowState(); every item starts cleared.

#include <cstdint>
#include <string>
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
    // Why it ended so, in the words shown to the user ("扫描仪卡纸").
    std::string scanStopReason;
    // Acquisitions the workflows started whose end the scanner component has not reported yet.
    // An ID-card copy holds two at once: the first side's ends only after its page handler, which
    // waits for the second side and prints both, returns.
    int acquisitionsRunning = 0;
    std::vector<std::uint8_t> capturedSide; // BMP file bytes of the last captured side
    std::int32_t colourTolerance = 0;

    // The scanner is busy with a command: from Acquire until that acquisition's end report, and
    // for the whole of a continuous loop (its cycles and the questions between them). Another
    // command must not reconfigure, enable or look up the scanner meanwhile.
    bool scannerInUse() const { return acquisitionsRunning > 0 || continuousMode; }
};

WorkflowState& workflowState();

} // namespace vantrel::workflows
