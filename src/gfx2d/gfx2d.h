// 2D drawing: pixels, lines and dotted circles; sprites and line and
// rectangle lists; fonts over the built-in glyph sets and text objects; the
// typewriter and jittering-text effects. All of it draws into the indexed
// framebuffer and clips to it.
#ifndef GFX2D_GFX2D_H
#define GFX2D_GFX2D_H

#include "gfx2d/font.h"
#include "gfx2d/glyphs.h"
#include "gfx2d/line_list.h"
#include "gfx2d/primitives.h"
#include "gfx2d/rect_list.h"
#include "gfx2d/sprite.h"
#include "gfx2d/text_group.h"
#include "gfx2d/text_object.h"
#include "gfx2d/typewriter.h"

#endif
