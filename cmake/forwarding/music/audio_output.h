// Deprecated: <kevo/music/audio_output.h> moved to
// <kevo/platform/audio_output.h> when the folders became the libraries. This
// forwarding header goes in the next release.
#pragma GCC warning "<kevo/music/audio_output.h> is deprecated: include <kevo/platform/audio_output.h>"
#include "kevo/platform/audio_output.h"
