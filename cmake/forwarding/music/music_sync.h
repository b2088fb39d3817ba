// Deprecated: <kevo/music/music_sync.h> moved to <kevo/platform/music_sync.h>
// when the folders became the libraries. This forwarding header goes in the
// next release.
#pragma GCC warning "<kevo/music/music_sync.h> is deprecated: include <kevo/platform/music_sync.h>"
#include "kevo/platform/music_sync.h"
