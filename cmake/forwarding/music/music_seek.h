// Deprecated: <kevo/music/music_seek.h> moved to <kevo/platform/music_seek.h>
// when the folders became the libraries. This forwarding header goes in the
// next release.
#pragma GCC warning "<kevo/music/music_seek.h> is deprecated: include <kevo/platform/music_seek.h>"
#include "kevo/platform/music_seek.h"
