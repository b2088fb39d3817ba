// The module check: recognising the format, checking its layout against
// the file's size, and the sentence for every refusal.
#include "music/module_check.h"

#include <cstdio>
#include <cstring>

#include "music/mod_player.h"
#include "music/mod_read_internal.h"
#include "music/module_format_internal.h"
#include "music/module_readers_internal.h"

// One format the engine reads: how its signature is recognised, and how a
// file it recognised is checked and read. A format without a signature is
// only guessed from a plausible header, after every format with one has
// had its say.
struct ModuleReader {
    ModuleFormat format;
    int guessed;
    int (*detect)(const uint8_t *module, long size_bytes);
    // Checks the layout into *check and, with `song` not null, reads the
    // song into *song: 1, or 0 with check->refusal saying why.
    int (*read)(const uint8_t *module, long size_bytes, ModuleCheck *check, Song **song);
};

static int xm_detect_file(const uint8_t *module, long size_bytes) {
    return xm_detect(module, static_cast<size_t>(size_bytes));
}

static int s3m_detect_file(const uint8_t *module, long size_bytes) {
    return s3m_detect(module, static_cast<size_t>(size_bytes));
}

// The XM, S3M and IT readers read the whole file to check it: what they
// refuse is refused, and the song read is the one played.
static int read_whole(Song *(*read)(const uint8_t *, size_t, ModuleReadResult *), const uint8_t *module,
                      long size_bytes, ModuleCheck *check, Song **song) {
    Song *read_song = read(module, static_cast<size_t>(size_bytes), &check->read);
    if (!read_song) {
        check->refusal = check->read.refusal == MODULE_READ_NO_MEMORY ? MODULE_NO_MEMORY : MODULE_READ_REFUSED;
        return 0;
    }
    check->channels = read_song->channel_count;
    check->pattern_count = read_song->pattern_count;
    check->sample_count = read_song->sample_count;
    if (song) *song = read_song;
    else song_destroy(read_song);
    return 1;
}

static int xm_read_file(const uint8_t *module, long size_bytes, ModuleCheck *check, Song **song) {
    return read_whole(xm_read_song, module, size_bytes, check, song);
}

static int s3m_read_file(const uint8_t *module, long size_bytes, ModuleCheck *check, Song **song) {
    return read_whole(s3m_read_song, module, size_bytes, check, song);
}

static int it_detect_file(const uint8_t *module, long size_bytes) {
    return it_detect(module, static_cast<size_t>(size_bytes));
}

static int it_read_file(const uint8_t *module, long size_bytes, ModuleCheck *check, Song **song) {
    return read_whole(it_read_song, module, size_bytes, check, song);
}

// A MOD's layout is checked without reading it; the song is read only
// when asked for.
static int mod_read_layout(int (*layout_step)(const uint8_t *, long, ModLayout *), const uint8_t *module,
                           long size_bytes, ModuleCheck *check, Song **song) {
    ModLayout layout = {};
    const int fits = layout_step(module, size_bytes, &layout);
    check->channels = layout.channels;
    check->sample_count = layout.sample_count;
    check->split_patterns = layout.split_patterns;
    check->pattern_count = layout.pattern_count;
    check->pattern_mask = layout.pattern_mask;
    check->needed_bytes = layout.needed_bytes;
    if (!fits) {
        check->refusal = MODULE_TRUNCATED_PATTERNS;
        return 0;
    }
    check->sample_data_offset = layout.sample_data_offset;
    if (!song) return 1;
    *song = mod_read_song(module, size_bytes, &layout);
    if (*song) return 1;
    check->refusal = MODULE_NO_MEMORY;
    return 0;
}

static int mod_read_file(const uint8_t *module, long size_bytes, ModuleCheck *check, Song **song) {
    return mod_read_layout(mod_check_layout, module, size_bytes, check, song);
}

static int soundtracker_read_file(const uint8_t *module, long size_bytes, ModuleCheck *check, Song **song) {
    return mod_read_layout(mod_check_soundtracker_layout, module, size_bytes, check, song);
}

// Tried in order; the first that recognises the file decides. XM and S3M
// signatures come first: a MOD's sits at byte 1080, inside their headers.
// IT's "IMPM" comes after it: four bytes at the start of a MOD's title
// could read so, where an IT file holding a MOD signature at byte 1080
// would be the rarer chance.
static const ModuleReader READERS[] = {
    {MODULE_FORMAT_XM, 0, xm_detect_file, xm_read_file},
    {MODULE_FORMAT_S3M, 0, s3m_detect_file, s3m_read_file},
    {MODULE_FORMAT_MOD, 0, mod_detect, mod_read_file},
    {MODULE_FORMAT_IT, 0, it_detect_file, it_read_file},
    {MODULE_FORMAT_MOD, 1, mod_detect_soundtracker, soundtracker_read_file},
};

// Runs the readers that detect by signature (guessed 0) or by plausibility
// (guessed 1): 1 when one recognised the file (check->refusal then says
// whether it passed), 0 when none did.
static int try_readers(const uint8_t *module, long size_bytes, ModuleCheck *check, Song **song, int guessed) {
    for (const ModuleReader &reader : READERS) {
        if (reader.guessed != guessed || !reader.detect(module, size_bytes)) continue;
        check->format = reader.format;
        check->refusal = reader.read(module, size_bytes, check, song) ? MODULE_ACCEPTED : check->refusal;
        return 1;
    }
    return 0;
}

ModuleRefusal module_check_song(const uint8_t *module, long size_bytes, ModuleCheck *check, Song **song) {
    if (song) *song = nullptr;
    if (!check) return MODULE_EMPTY;
    memset(check, 0, sizeof *check);
    check->size_bytes = size_bytes;
    if (!module || size_bytes <= 0) return check->refusal = MODULE_EMPTY;
    if (size_bytes >= static_cast<long>(MOD_PATTERNS_OFFSET))
        memcpy(check->signature, module + MOD_SIGNATURE_OFFSET, sizeof check->signature);
    if (try_readers(module, size_bytes, check, song, 0)) return check->refusal;
    check->unsupported = module_unsupported_format(module, static_cast<size_t>(size_bytes));
    if (check->unsupported) return check->refusal = MODULE_UNSUPPORTED_FORMAT;
    if (try_readers(module, size_bytes, check, song, 1)) return check->refusal;
    // Nothing recognised. A MOD carries its signature last, at the end of
    // its 1084-byte header, so a shorter file cannot even be told apart.
    if (size_bytes < static_cast<long>(MOD_PATTERNS_OFFSET)) {
        check->needed_bytes = static_cast<long>(MOD_PATTERNS_OFFSET);
        return check->refusal = MODULE_SHORT_HEADER;
    }
    return check->refusal = MODULE_UNKNOWN_SIGNATURE;
}

ModuleRefusal module_check(const uint8_t *module, long size_bytes, ModuleCheck *check) {
    return module_check_song(module, size_bytes, check, nullptr);
}

// The four signature bytes as the inside of a quoted text: printable ASCII
// as it is but for the quote and the backslash, written \" and \\, any
// other byte as \xNN (at most 16 characters).
static void signature_text(const uint8_t signature[4], char *out, size_t out_bytes) {
    size_t at = 0;
    out[0] = '\0';
    for (int i = 0; i < 4 && at < out_bytes; i++) {
        const uint8_t byte = signature[i];
        int n;
        if (byte == '"' || byte == '\\')
            n = snprintf(out + at, out_bytes - at, "\\%c", static_cast<char>(byte));
        else if (byte >= 0x20 && byte < 0x7f)
            n = snprintf(out + at, out_bytes - at, "%c", static_cast<char>(byte));
        else
            n = snprintf(out + at, out_bytes - at, "\\x%02x", byte);
        if (n < 0) break;
        at += static_cast<size_t>(n);
    }
}

int module_refusal_text(const ModuleCheck *check, const char *path, char *text, size_t text_bytes) {
    const bool writable = text && text_bytes > 0;
    if (writable) text[0] = '\0';
    if (!check || check->refusal == MODULE_ACCEPTED) return 0;
    if (!writable) return 1;
    if (!path) path = "";
    char shown[4 * 4 + 1];
    switch (check->refusal) {
        case MODULE_EMPTY:
            snprintf(text, text_bytes, "'%s' is not a module: the file is empty", path);
            break;
        case MODULE_SHORT_HEADER:
            snprintf(text, text_bytes, "'%s' is not a module: %ld bytes is too short for a module "
                     "header (%ld bytes)", path, check->size_bytes, check->needed_bytes);
            break;
        case MODULE_UNKNOWN_SIGNATURE:
            signature_text(check->signature, shown, sizeof shown);
            snprintf(text, text_bytes, "'%s' is not a module: no MOD, XM, S3M or IT signature (bytes "
                     "1080 to 1083 read \"%s\")", path, shown);
            break;
        case MODULE_TRUNCATED_PATTERNS:
            snprintf(text, text_bytes, "'%s' is not a module: truncated: its %d patterns need %ld "
                     "bytes, the file has %ld", path, check->pattern_count, check->needed_bytes,
                     check->size_bytes);
            break;
        case MODULE_UNSUPPORTED_FORMAT:
            snprintf(text, text_bytes, "'%s': %s modules are not supported", path,
                     check->unsupported ? check->unsupported : "these");
            break;
        case MODULE_READ_REFUSED:
            module_read_refusal_text(&check->read, path, text, text_bytes);
            break;
        case MODULE_OUTPUT_RATE:
            snprintf(text, text_bytes, "cannot create the player for '%s' at %d Hz (it renders at %d "
                     "to %d Hz)", path, check->output_rate_hz, MOD_MIN_OUTPUT_RATE_HZ,
                     MOD_MAX_OUTPUT_RATE_HZ);
            break;
        case MODULE_NO_MEMORY:
            snprintf(text, text_bytes, "out of memory creating the player for '%s'", path);
            break;
        case MODULE_ACCEPTED:
            break;
        default:  // not a value of ModuleRefusal
            snprintf(text, text_bytes, "'%s' is not a module", path);
            break;
    }
    return 1;
}
