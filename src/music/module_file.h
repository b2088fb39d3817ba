// Reads a module file whole into memory, for the demo's start-up and the
// tools. Knows nothing of the format beyond the largest size a module can
// have.
#ifndef MUSIC_MODULE_FILE_H
#define MUSIC_MODULE_FILE_H

#include <cstddef>
#include <cstdint>

// Reads `path` whole into a new buffer from engine_malloc (the caller
// releases it with engine_free) and stores its length in *size_bytes.
// Returns null when the file cannot be opened or read, is no regular file
// (a directory, device, FIFO or socket is refused without blocking), is
// empty, is larger than any module (MODULE_MAX_FILE_BYTES), or memory runs
// out; `reason` then holds one line naming the file and why, such as
// "cannot open 'x.mod': No such file or directory", "cannot open 'x.mod':
// is a FIFO" or "'x.mod' is not a module: the file is empty".
// Short or interrupted reads are continued.
uint8_t *mod_file_read(const char *path, long *size_bytes, char *reason, size_t reason_bytes);

#endif
