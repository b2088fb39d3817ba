// Deprecated: <kevo/music/music_start.h> moved to
// <kevo/platform/music_start.h> when the folders became the libraries. This
// forwarding header goes in the next release.
#pragma GCC warning "<kevo/music/music_start.h> is deprecated: include <kevo/platform/music_start.h>"
#include "kevo/platform/music_start.h"
