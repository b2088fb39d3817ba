// Asset loaders: pictures (PCX and PNG, told apart by their content, shown
// in their own colours through the engine's palette), PCX files read and
// written, and Wavefront OBJ models with their MTL material. Every file is
// input from outside: a malformed one is refused, or its bad lines
// skipped, and never read out of bounds. Reading a picture prints nothing:
// pcx_open_why, pcx_load_texture_why and image_load_texture_why hand back
// the reason as a short text, which the material loader puts into its
// "MTL: ..." line; pcx_save prints one "PCX: ..." line when it fails,
// image_save_png one "IMAGE: ..." line. The OBJ and MTL loaders print one
// "OBJ: ..." or "MTL: ..." line on standard error for a file they refuse,
// and on standard output a line for each file they load and each line they
// skip. Paths are relative to the working directory; the files a model or
// material names are also looked for beside it.
#ifndef ASSETS_ASSETS_H
#define ASSETS_ASSETS_H

#include "assets/image.h"  // ImagePixels, image_read, image_load_texture, image_load_sprite, image_save_png
#include "assets/obj.h"  // parse_fixed, mtl_load, obj_load, mesh_destroy
#include "assets/pcx.h"  // PcxImage, pcx_open/decode/close, pcx_save, pcx_load_texture

#endif
