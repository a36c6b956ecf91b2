#pragma once
// The main window as data: every control with its name, kind, place, initial content and the
// events the program handles. The UI runtime builds the window from it.

#include "ui/window_definition.h"
#include "workflows/control_names.h"

namespace vantrel::app {

const ui::WindowDefinition& mainWindowDefinition();

} // namespace vantrel::app
