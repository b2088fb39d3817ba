// Deprecated: <kevo/platform/palette.h> moved to <kevo/gfx2d/palette.h> when
// the folders became the libraries. This forwarding header goes in the next
// release.
#pragma GCC warning "<kevo/platform/palette.h> is deprecated: include <kevo/gfx2d/palette.h>"
#include "kevo/gfx2d/palette.h"
