#include "ui/Glyphs.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must name the resource from the global namespace.
static void InitGlyphsQrc() {
    Q_INIT_RESOURCE(glyphs);
}

namespace kds {

void InitGlyphResources() {
    static const bool Done = (InitGlyphsQrc(), true);
    (void)Done;
}

} // namespace kds
