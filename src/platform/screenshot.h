// Saves the framebuffer, through the palette, as an RGB PNG file.
#ifndef PLATFORM_SCREENSHOT_H
#define PLATFORM_SCREENSHOT_H

// Writes fb_pixels (fb_width x fb_height) to `path`. 0 on success; -1 when
// the file cannot be written, with one "SCREENSHOT: ..." line on standard
// error naming the file and the reason.
int fb_save_png(const char *path);

#endif
