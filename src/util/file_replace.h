// Writing an output file so that it is never seen half written.
//
// The new content goes to a temporary file beside the target (in the same
// folder, so that the rename stays on one file system), named
// ".NAME.XXXXXX", and is renamed over the target only once it is whole.
// So the target holds the old file or the whole new one, never a part,
// whatever stops the writer: a write error, a full disk, a file-size
// limit, a signal. When the writing fails the temporary file goes and the
// old file stays as it was.
//
// A target that exists and is no regular file (a device such as /dev/null
// or /dev/full, a FIFO) is written directly: there is nothing there to
// replace. Through a symbolic link the file the link names is replaced,
// not the link. The new file gets the permissions of the one it replaces,
// or those of any new file (0666 less the umask).
//
// The temporary file of the writing in progress (the last one opened and
// not yet closed) is recorded where a signal handler can remove it
// (file_replace_remove_pending): every signal is blocked from before the
// file exists until it is recorded, and from the rename until the record
// is cleared, so no signal ever finds a temporary file unrecorded.
#ifndef UTIL_FILE_REPLACE_H
#define UTIL_FILE_REPLACE_H

#include <climits>
#include <cstdio>

// Room for the temporary file's name: the target's, a dot and ".XXXXXX".
constexpr int FILE_REPLACE_PATH_BYTES = PATH_MAX + 16;

// One output being written.
struct FileReplace {
    FILE *file;                             // where the writer writes
    char target[FILE_REPLACE_PATH_BYTES];   // the file replaced: the path, or the file a link names
    char temp[FILE_REPLACE_PATH_BYTES];     // the temporary file; "" when the target is written directly
};

// Opens `path` for writing as described above. 0, or -1 with errno saying
// why (EISDIR for a folder, ENAMETOOLONG, or what mkstemp, realpath,
// fchmod or fopen said); nothing is then left behind.
int file_replace_open(FileReplace *out, const char *path);

// Ends the writing. When `complete` (the writer wrote everything), closes
// the file, which writes what its buffer holds, and renames the temporary
// file into place: 0, or -1 with errno that of the call that failed (the
// close's write, or the rename), the temporary file removed and the target
// as it was. When not complete, closes and removes the temporary file and
// returns -1 with errno as the writer left it (its own reason). A target
// written directly is only closed.
int file_replace_close(FileReplace *out, bool complete);

// Removes the temporary file of the writing in progress, if any. Safe in a
// signal handler: for one that ends the program in the middle of a write.
void file_replace_remove_pending(void);

// 1 when `a` and `b` name the same existing file, by device and inode:
// however it is reached (a hard link, a symbolic link, another spelling of
// the path). 0 otherwise, also when either does not exist.
int file_same(const char *a, const char *b);

#endif
