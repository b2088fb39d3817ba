// 2D drawing: pixels, lines and dotted circles into the indexed
// framebuffer. All of it clips to the framebuffer.
#ifndef GFX2D_GFX2D_H
#define GFX2D_GFX2D_H

#include "gfx2d/primitives.h"

#endif
