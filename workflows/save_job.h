#pragma once
// The slow half of a save, off the GUI thread: the panel's picture is written to the scratch file
// and converted into the save folder on a worker thread. The GUI thread meanwhile keeps the window
// painted and the scanner's events flowing; input waits until the save has ended. A save that
// takes longer than a moment (half a second in the window) shows the progress panel with its
// percentage and disables the window's commands until it ends.

#include "imaging/converter.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace vantrel::ui {
class Window;
}

namespace vantrel::workflows {

enum class SaveFormat { Jpeg, Bmp, Png };

struct SaveRequest {
    std::shared_ptr<const std::vector<std::uint8_t>> content; // BMP file bytes of the panel
    std::filesystem::path scratch;                            // the temporary picture file
    bool convert = false; // false: only the scratch file is written
    SaveFormat format = SaveFormat::Jpeg;
    int quality = 0; // JPEG quality, 1..100
    imaging::ConvertTarget target;
};

struct SaveOutcome {
    bool written = false;                    // the scratch file holds the content
    int result = imaging::kTargetNotWritten; // the conversion's result, when it ran
    int error = 0;                           // the system error behind a failed conversion
    std::string path;                        // the file saved, after a success
};

// Runs the save and returns when it has ended; its progress is shown once it has taken
// `progressDelay`. The request's content is let go as soon as the scratch file holds it.
SaveOutcome runSave(ui::Window& window, SaveRequest request,
                    std::chrono::milliseconds progressDelay);

} // namespace vantrel::workflows
