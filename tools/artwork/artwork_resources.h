// Vantrel's generated artwork as Qt resources.
//
// The program icon (program-icon-16/32/48/128.png), the ten toolbar icons (toolbar-0..9.png), the
// two background button glyphs and the busy animation (busy.gif) live under ":/artwork/". They are
// drawn by tools/artwork/make_artwork at build time. Linking Vantrel::Artwork registers them on its
// own; initResources() is there for code that wants to register them explicitly.
#pragma once

namespace vantrel::artwork {

// Registers the ":/artwork/" resources. Safe to call any number of times.
void initResources();

} // namespace vantrel::artwork
