// Asset loaders: PCX images (read and write, and straight into a Texture)
// and Wavefront OBJ models with their MTL material. Every file is input
// from outside: a malformed one is refused or its bad lines skipped, with a
// message, and never read out of bounds. Paths are relative to the working
// directory; the files a model or material names are also looked for beside
// it.
#ifndef ASSETS_ASSETS_H
#define ASSETS_ASSETS_H

#include "assets/obj.h"  // parse_fixed, mtl_load, obj_load, mesh_destroy
#include "assets/pcx.h"  // PcxImage, pcx_open/decode/close, pcx_save, pcx_load_texture

#endif
