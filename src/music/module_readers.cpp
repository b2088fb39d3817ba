// What the XM and S3M readers share beyond their formats: recognising the
// tracker formats the engine does not read, and the sentences for the
// readers' refusals and notices.
#include "music/module_readers.h"

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
    {"IT", 0, "IMPM", 4},
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

static const char *format_word(uint8_t format) {
    return format == SONG_FORMAT_XM ? "XM" : format == SONG_FORMAT_S3M ? "S3M" : "module";
}

// The reason part of a refusal's sentence.
static void reason_text(const ModuleReadResult *r, char *out, size_t out_bytes) {
    const char *word = format_word(r->format);
    switch (r->refusal) {
        case MODULE_READ_EMPTY:
            snprintf(out, out_bytes, "the file is empty");
            break;
        case MODULE_READ_NOT_FORMAT:
            if (r->format == SONG_FORMAT_S3M)
                snprintf(out, out_bytes, "it has no S3M signature (\"SCRM\" at byte 44)");
            else
                snprintf(out, out_bytes, "it has no XM signature (\"Extended Module: \" at byte 0)");
            break;
        case MODULE_READ_VERSION:
            snprintf(out, out_bytes, "its XM version is %lx.%02lx (only 1.04 is read)", (r->value >> 8) & 0xFF,
                     r->value & 0xFF);
            break;
        case MODULE_READ_TRUNCATED:
            if (r->part == MODULE_PART_PATTERN)
                snprintf(out, out_bytes, "truncated: pattern %ld needs %ld bytes, the file has %ld", r->index,
                         r->needed_bytes, r->size_bytes);
            else
                snprintf(out, out_bytes, "truncated: its %s needs %ld bytes, the file has %ld",
                         r->part == MODULE_PART_ORDERS ? "order list" : "header", r->needed_bytes,
                         r->size_bytes);
            break;
        case MODULE_READ_CHANNELS:
            if (r->value == 0 && r->format == SONG_FORMAT_S3M)
                snprintf(out, out_bytes, "its S3M header enables no channel");
            else
                snprintf(out, out_bytes, "its %s header says %ld channels (1 to 32 are read)", word, r->value);
            break;
        case MODULE_READ_ORDERS:
            if (r->value == 0)
                snprintf(out, out_bytes, "its %s order list has no position to play", word);
            else
                snprintf(out, out_bytes, "its %s header says %ld order positions (1 to 256 are read)", word,
                         r->value);
            break;
        case MODULE_READ_PATTERNS:
            snprintf(out, out_bytes, "its %s header says %ld patterns (at most 256 are read)", word, r->value);
            break;
        case MODULE_READ_INSTRUMENTS:
            snprintf(out, out_bytes, "its %s header says %ld instruments (at most 128 are read)", word,
                     r->value);
            break;
        case MODULE_READ_ROWS:
            snprintf(out, out_bytes, "pattern %ld has %ld rows (1 to 256 are read)", r->index, r->value);
            break;
        case MODULE_READ_SAMPLES:
            snprintf(out, out_bytes, "instrument %ld has %ld samples (at most 16 are read)", r->index, r->value);
            break;
        default:
            out[0] = '\0';
            break;
    }
}

int module_read_refusal_text(const ModuleReadResult *result, const char *path, char *text, size_t text_bytes) {
    const bool writable = text && text_bytes > 0;
    if (writable) text[0] = '\0';
    if (!result || result->refusal == MODULE_READ_OK) return 0;
    if (!writable) return 1;
    if (!path) path = "";
    if (result->refusal == MODULE_READ_UNSUPPORTED) {
        snprintf(text, text_bytes, "'%s': %s modules are not supported", path,
                 result->unsupported ? result->unsupported : "such");
    } else if (result->refusal == MODULE_READ_NO_MEMORY) {
        snprintf(text, text_bytes, "out of memory reading '%s'", path);
    } else {
        char reason[160];
        reason_text(result, reason, sizeof reason);
        snprintf(text, text_bytes, "'%s' is not a module: %s", path, reason[0] ? reason : "unreadable");
    }
    return 1;
}

int module_read_notice_text(const ModuleReadResult *result, const char *path, char *text, size_t text_bytes) {
    const bool writable = text && text_bytes > 0;
    if (writable) text[0] = '\0';
    if (!result || result->refusal != MODULE_READ_OK ||
        (result->adlib_instruments == 0 && result->silent_samples == 0))
        return 0;
    if (!writable) return 1;
    if (!path) path = "";
    char adlib[96] = "", packed[96] = "";
    if (result->adlib_instruments > 0)
        snprintf(adlib, sizeof adlib, "%d Adlib instrument%s", result->adlib_instruments,
                 result->adlib_instruments == 1 ? "" : "s");
    if (result->silent_samples > 0)
        snprintf(packed, sizeof packed, "%d packed sample%s", result->silent_samples,
                 result->silent_samples == 1 ? "" : "s");
    const int count = result->adlib_instruments + result->silent_samples;
    snprintf(text, text_bytes, "'%s': %s%s%s %s not played: %s notes stay silent", path, adlib,
             adlib[0] && packed[0] ? " and " : "", packed, count == 1 ? "is" : "are",
             count == 1 ? "its" : "their");
    return 1;
}
