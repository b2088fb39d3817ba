// Deprecated: <kevo/platform/framebuffer.h> moved to
// <kevo/gfx2d/framebuffer.h> when the folders became the libraries. This
// forwarding header goes in the next release.
#pragma GCC warning "<kevo/platform/framebuffer.h> is deprecated: include <kevo/gfx2d/framebuffer.h>"
#include "kevo/gfx2d/framebuffer.h"
