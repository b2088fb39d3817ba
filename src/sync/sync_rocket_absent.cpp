// The editor's project file in a build without an XML reader (the browser
// build: emscripten offers no expat): refused with the reason. Track files
// load as everywhere else.
#include <cstdio>

#include "sync/sync_internal.h"

int sync_rocket_read(const char *path, Vector *tracks) {
    (void)tracks;
    fprintf(stderr, "SYNC: cannot read '%s': .rocket projects are not part of this build (it has no expat): "
                    "export the tracks and play their .track files\n", path);
    return -1;
}
