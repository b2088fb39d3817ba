// Puts into words why the player refuses a module file, for the one-line
// messages of the music start-up and the tools. The player itself only
// answers null; this looks at the same bytes and names the first reason.
#ifndef MUSIC_MODULE_CHECK_H
#define MUSIC_MODULE_CHECK_H

#include <cstddef>
#include <cstdint>

#include "music/mod_player.h"
#include "music/module_format.h"

// The largest file a module can be: the header, 128 patterns and 31
// samples of 65535 words each. Readers refuse larger files before loading
// them.
constexpr long MOD_MAX_FILE_BYTES = (long)MOD_PATTERNS_OFFSET +
                                    (long)MOD_MAX_PATTERNS * (long)MOD_PATTERN_BYTES +
                                    (long)MOD_SAMPLES * 65535L * 2L;

// Writes into `reason` (at most reason_bytes bytes, NUL-ended) why a module
// of size_bytes bytes at `module` cannot be played: empty, shorter than the
// 1084-byte header, no four-channel signature, or patterns cut off by the
// end of the file. Returns 1 when a reason was found, 0 when the module
// passes these checks (a player refusing it then ran out of memory).
int mod_rejection_reason(const uint8_t *module, long size_bytes, char *reason,
                         size_t reason_bytes);

#endif
