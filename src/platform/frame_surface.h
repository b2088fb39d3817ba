// The 32-bit frame surface: the framebuffer's pixels in the palette's
// colours, for what cannot take the indices straight (a window of another
// format, screenshots).
#ifndef PLATFORM_FRAME_SURFACE_H
#define PLATFORM_FRAME_SURFACE_H

#include <SDL/SDL.h>

// 400 x 240, 32 bits a pixel, R 0xFF000000, G 0x00FF0000, B 0x0000FF00:
// a Palette entry is such a pixel as it is. Made by video_init; null before.
extern SDL_Surface *frame_surface;

// Stores Palette[index] for every framebuffer pixel into frame_surface.
void fb_convert(void);

#endif
