// Finding the files a model or material names: as written, then beside it.
#include "assets/asset_path.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "util/alloc.h"

// True when nothing at all is at `path` (a FIFO or directory there counts as
// something: opening it is refused with its own message).
static bool nothing_at(const char *path) {
    struct stat info;
    return stat(path, &info) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

char *asset_path_beside(const char *named, const char *naming_file) {
    if (named == nullptr || naming_file == nullptr || named[0] == '/') return nullptr;
    const char *slash = strrchr(naming_file, '/');
    if (slash == nullptr || !nothing_at(named)) return nullptr;
    size_t folder_bytes = static_cast<size_t>(slash - naming_file) + 1;
    size_t named_bytes = strlen(named);
    char *beside = static_cast<char *>(engine_malloc(folder_bytes + named_bytes + 1));
    if (beside == nullptr) return nullptr;
    memcpy(beside, naming_file, folder_bytes);
    memcpy(beside + folder_bytes, named, named_bytes + 1);
    if (nothing_at(beside)) {
        engine_free(beside);
        return nullptr;
    }
    return beside;
}
