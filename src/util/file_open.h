// Opening input files without ever blocking on them.
//
// Every file the engine and its tools read (modules, models, materials,
// images, and the files those name) must be a regular file: a FIFO would
// block the reader for ever, a device such as /dev/zero would never end,
// and a directory is no file at all. The check is made on the opened
// descriptor, so nothing can be swapped in between the check and the read.
#ifndef UTIL_FILE_OPEN_H
#define UTIL_FILE_OPEN_H

// Opens path read-only when it names a regular file (symbolic links are
// followed). Returns the descriptor, in blocking mode and closed on exec, or
// -1 with *why pointing at a short static description of the refusal: "is a
// directory", "is a device", "is a FIFO", "is a socket", or the system's own
// error text (for example "No such file or directory"). Opening never
// blocks, even on a FIFO with no writer.
int open_regular_file(const char *path, const char **why);

#endif
