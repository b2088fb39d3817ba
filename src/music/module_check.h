// Puts into words why the player refuses a module file, for the one-line
// messages of the music start-up and the tools. The player itself only
// answers null; this looks at the same bytes and names the first reason.
#ifndef MUSIC_MODULE_CHECK_H
#define MUSIC_MODULE_CHECK_H

#include <cstddef>
#include <cstdint>

// Writes into `reason` (at most reason_bytes bytes, NUL-ended) why a module
// of size_bytes bytes at `module` cannot be played: empty, shorter than the
// 1084-byte header, no four-channel signature, or patterns cut off by the
// end of the file. Returns 1 when a reason was found, 0 when the module
// passes these checks (a player refusing it then ran out of memory).
int mod_rejection_reason(const uint8_t *module, long size_bytes, char *reason,
                         size_t reason_bytes);

#endif
