// What the XM, S3M and IT readers share beyond their formats: recognising
// the tracker formats the engine does not read, and recording a refusal.
#include "music/module_readers_internal.h"

#include <cstdio>
#include <cstring>

// A format recognised by `signature_bytes` bytes at `offset`.
struct UnsupportedFormat {
    const char *name;
    size_t offset;
    const char *signature;
    size_t signature_bytes;
};

static const UnsupportedFormat UNSUPPORTED_FORMATS[] = {
    {"MED", 0, "MMD0", 4}, {"MED", 0, "MMD1", 4}, {"MED", 0, "MMD2", 4}, {"MED", 0, "MMD3", 4},
    {"MTM", 0, "MTM\x10", 4},
    {"OKT", 0, "OKTASONG", 8},
    {"STM", 20, "!Scream!", 8}, {"STM", 20, "BMOD2STM", 8},
    {"PTM", 44, "PTMF", 4},
    {"ULT", 0, "MAS_UTrack_V00", 14},
    {"FAR", 0, "FAR\xfe", 4},
    {"DBM", 0, "DBM0", 4},
    {"AMF", 0, "ASYLUM Music Format", 19}, {"AMF", 0, "AMF", 3},
    {"MO3", 0, "MO3", 3},
    {"MT2", 0, "MT20", 4},
    {"PSM", 0, "PSM ", 4},
    {"DMF", 0, "DDMF", 4},
    {"AMS", 0, "Extreme", 7},
    {"UMX", 0, "\xc1\x83\x2a\x9e", 4},  // an Unreal package, which wraps a module
};

const char *module_unsupported_format(const uint8_t *bytes, size_t size) {
    if (!bytes) return nullptr;
    for (const UnsupportedFormat &f : UNSUPPORTED_FORMATS) {
        if (size >= f.offset + f.signature_bytes &&
            memcmp(bytes + f.offset, f.signature, f.signature_bytes) == 0)
            return f.name;
    }
    return nullptr;
}

int module_read_refuse(ModuleReadResult *r, ModuleReadRefusal why, long value, long index) {
    r->refusal = why;
    r->value = value;
    r->index = index;
    return 0;
}

int module_read_truncated(ModuleReadResult *r, ModuleReadPart part, long index, uint64_t needed) {
    r->part = part;
    r->needed_bytes = static_cast<long>(needed);
    return module_read_refuse(r, MODULE_READ_TRUNCATED, 0, index);
}

// The song `read` makes of the file, or null.
static Song *read_song(int (*read)(const uint8_t *, size_t, Song *, ModuleReadResult *), const uint8_t *bytes,
                       size_t size, ModuleReadResult *result) {
    Song *song = song_create();
    if (!song) {
        *result = ModuleReadResult{};
        result->refusal = MODULE_READ_NO_MEMORY;
        result->size_bytes = static_cast<long>(size);
        return nullptr;
    }
    if (read(bytes, size, song, result)) return song;
    song_destroy(song);
    return nullptr;
}

Song *xm_read_song(const uint8_t *bytes, size_t size, ModuleReadResult *result) {
    return read_song(xm_read, bytes, size, result);
}

Song *s3m_read_song(const uint8_t *bytes, size_t size, ModuleReadResult *result) {
    return read_song(s3m_read, bytes, size, result);
}

Song *it_read_song(const uint8_t *bytes, size_t size, ModuleReadResult *result) {
    return read_song(it_read, bytes, size, result);
}

bool module_cell_steers_song(const SongCell *cell) {
    switch (cell->command) {
        case CMD_SET_SPEED: case CMD_SET_TEMPO: case CMD_TEMPO_SLIDE: case CMD_POSITION_JUMP:
        case CMD_PATTERN_BREAK: case CMD_SET_GLOBAL_VOLUME: case CMD_GLOBAL_VOLUME_SLIDE: case CMD_PATTERN_DELAY:
        case CMD_FINE_PATTERN_DELAY:
            return true;
        default:
            return false;
    }
}
