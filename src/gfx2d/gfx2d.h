// 2D drawing: the folder's front page. Everything here draws palette
// indices into the one indexed framebuffer and clips to it. Plain data and
// arithmetic only: no SDL (the window is the platform library's).
//
//   framebuffer.h  fb_pixels, fb_width, fb_height, draw_color, frame_counter
//   palette.h      the fixed 256-colour table and its regions
//   palette_map.h  any colour to its nearest entry; pictures to indices, dithered or not
//   primitives.h   pixels, lines, dotted circles
//   line_list.h    lists of lines drawn in one call
//   rect_list.h    lists of rectangle outlines drawn in one call
//   sprite.h       opaque sprites
//   font.h         1-bit bitmap fonts over a glyph set
//   glyphs.h       the three built-in glyph sets (8x8, 8x16, 32x32)
//   text_object.h  positioned, wrapped strings
//   typewriter.h   text revealed one character at a time
//   text_group.h   jittering, colour-cycling text
#ifndef GFX2D_GFX2D_H
#define GFX2D_GFX2D_H

#include "gfx2d/font.h"
#include "gfx2d/framebuffer.h"
#include "gfx2d/glyphs.h"
#include "gfx2d/line_list.h"
#include "gfx2d/palette.h"
#include "gfx2d/palette_map.h"
#include "gfx2d/primitives.h"
#include "gfx2d/rect_list.h"
#include "gfx2d/sprite.h"
#include "gfx2d/text_group.h"
#include "gfx2d/text_object.h"
#include "gfx2d/typewriter.h"

#endif
