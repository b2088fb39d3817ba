// The whole engine in one include, for programs built on it: every
// library's folder header. Installed as <kevo/kevo.h>; a program that uses
// one library includes its folder header instead (<kevo/music/music.h>,
// ...). What each library holds is in the README's table; each folder
// header lists its files.
#ifndef KEVO_KEVO_H
#define KEVO_KEVO_H

#include "assets/assets.h"
#include "gfx2d/gfx2d.h"
#include "music/music.h"
#include "platform/platform.h"
#include "render3d/render3d.h"
#include "sync/sync.h"
#include "util/util.h"

#endif
