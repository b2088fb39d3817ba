// The whole engine in one include, for programs built on it: every
// subsystem's folder header, and the music start-up and SDL audio output
// that music/music.h leaves out. Installed as <kevo/kevo.h>; the folder
// headers are <kevo/util/util.h>, <kevo/music/music.h>,
// <kevo/gfx2d/gfx2d.h>, <kevo/render3d/render3d.h>,
// <kevo/assets/assets.h> and <kevo/platform/platform.h>.
//
//   util      vector, hash map, linked list, byte buffer, UTF-8 helpers
//   music     the module player: format, sequencer, voices, rendering
//   gfx2d     the framebuffer globals and the palette; pixels, lines,
//             circles, sprites, lists, fonts, text objects, text effects
//   render3d  fixed-point 3D: matrices, transform, rasterizer, scene graph,
//             particle effect
//   assets    PCX images, OBJ/MTL models
//   platform  SDL 1.2 video start-up, paced present, exit signals, PNG
//             screenshots, the audio device and the music start-up
#ifndef KEVO_KEVO_H
#define KEVO_KEVO_H

#include "util/util.h"
#include "music/music.h"
#include "platform/audio_output.h"
#include "platform/music_start.h"
#include "platform/music_seek.h"
#include "platform/music_sync.h"
#include "gfx2d/gfx2d.h"
#include "render3d/render3d.h"
#include "assets/assets.h"
#include "platform/platform.h"

#endif
