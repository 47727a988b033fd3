#pragma once

namespace kds {

// Registers the check glyphs' resources (":/bitmaps/CHECKED_DATA" and
// ":/bitmaps/UNCHECKED_DATA"). The resources live in a static library, so
// nothing registers them unless asked. Idempotent; window thread.
void InitGlyphResources();

} // namespace kds
