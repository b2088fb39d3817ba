// Saves the framebuffer, through the palette, as an RGB PNG file.
#ifndef PLATFORM_SCREENSHOT_H
#define PLATFORM_SCREENSHOT_H

// Writes fb_pixels (fb_width x fb_height) to `path` with
// image_save_png_rgb: a file there is replaced only once the new one is
// whole. 0 on success; -1 when the file cannot be written, with one line
// on standard error ("IMAGE: ...", or "SCREENSHOT: ..." in a build without
// PNG) naming the file and the reason of the call that failed.
int fb_save_png(const char *path);

#endif
