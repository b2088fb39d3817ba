// The module check: recognising the format, checking its layout against
// the file's size, and the sentence for every refusal.
#include "music/module_check.h"

#include <cstdio>
#include <cstring>

#include "music/mod_player.h"
#include "music/mod_read_internal.h"
#include "music/module_format.h"

// One format the engine reads: how its signature is recognised, how its
// layout is checked once it is (see mod_detect and mod_check_layout), and
// how a file that passed becomes a song (mod_read_song). A format without a
// signature is only guessed from a plausible header, after every format
// with one has had its say.
struct ModuleReader {
    ModuleFormat format;
    int guessed;
    int (*detect)(const uint8_t *module, long size_bytes);
    int (*check_layout)(const uint8_t *module, long size_bytes, ModuleCheck *check);
    Song *(*read)(const uint8_t *module, long size_bytes, const ModuleCheck *check);
};

// The XM and S3M readers read the whole file to check it: what they refuse
// is refused here, and the song is read again (module_read_song) to play.
static int xm_detect_file(const uint8_t *module, long size_bytes) {
    return xm_detect(module, static_cast<size_t>(size_bytes));
}

static int s3m_detect_file(const uint8_t *module, long size_bytes) {
    return s3m_detect(module, static_cast<size_t>(size_bytes));
}

static int read_layout(Song *(*read)(const uint8_t *, size_t, ModuleReadResult *), const uint8_t *module,
                       long size_bytes, ModuleCheck *check) {
    Song *song = read(module, static_cast<size_t>(size_bytes), &check->read);
    if (!song) {
        check->refusal = check->read.refusal == MODULE_READ_NO_MEMORY ? MODULE_NO_MEMORY : MODULE_READ_REFUSED;
        return 0;
    }
    check->channels = song->channel_count;
    check->pattern_count = song->pattern_count;
    check->sample_count = song->sample_count;
    song_destroy(song);
    return 1;
}

static int xm_layout(const uint8_t *module, long size_bytes, ModuleCheck *check) {
    return read_layout(xm_read_song, module, size_bytes, check);
}

static int s3m_layout(const uint8_t *module, long size_bytes, ModuleCheck *check) {
    return read_layout(s3m_read_song, module, size_bytes, check);
}

static Song *xm_song(const uint8_t *module, long size_bytes, const ModuleCheck *) {
    ModuleReadResult result;
    return xm_read_song(module, static_cast<size_t>(size_bytes), &result);
}

static Song *s3m_song(const uint8_t *module, long size_bytes, const ModuleCheck *) {
    ModuleReadResult result;
    return s3m_read_song(module, static_cast<size_t>(size_bytes), &result);
}

// Tried in order; the first that recognises the file decides. XM and S3M
// signatures come first: a MOD's sits at byte 1080, inside their headers.
static const ModuleReader READERS[] = {
    {MODULE_FORMAT_XM, 0, xm_detect_file, xm_layout, xm_song},
    {MODULE_FORMAT_S3M, 0, s3m_detect_file, s3m_layout, s3m_song},
    {MODULE_FORMAT_MOD, 0, mod_detect, mod_check_layout, mod_read_song},
    {MODULE_FORMAT_MOD, 1, mod_detect_soundtracker, mod_check_soundtracker_layout, mod_read_song},
};

// Runs the readers that detect by signature (guessed 0) or by plausibility
// (guessed 1): 1 when one recognised the file (check->refusal then says
// whether its layout fits), 0 when none did.
static int try_readers(const uint8_t *module, long size_bytes, ModuleCheck *check, int guessed) {
    for (const ModuleReader &reader : READERS) {
        if (reader.guessed != guessed || !reader.detect(module, size_bytes)) continue;
        check->format = reader.format;
        check->refusal = reader.check_layout(module, size_bytes, check) ? MODULE_ACCEPTED : check->refusal;
        return 1;
    }
    return 0;
}

ModuleRefusal module_check(const uint8_t *module, long size_bytes, ModuleCheck *check) {
    if (!check) return MODULE_EMPTY;
    memset(check, 0, sizeof *check);
    check->size_bytes = size_bytes;
    if (!module || size_bytes <= 0) return check->refusal = MODULE_EMPTY;
    if (size_bytes >= static_cast<long>(MOD_PATTERNS_OFFSET))
        memcpy(check->signature, module + MOD_SIGNATURE_OFFSET, sizeof check->signature);
    if (try_readers(module, size_bytes, check, 0)) return check->refusal;
    check->unsupported = module_unsupported_format(module, static_cast<size_t>(size_bytes));
    if (check->unsupported) return check->refusal = MODULE_UNSUPPORTED_FORMAT;
    if (try_readers(module, size_bytes, check, 1)) return check->refusal;
    // Nothing recognised. A MOD carries its signature last, at the end of
    // its 1084-byte header, so a shorter file cannot even be told apart.
    if (size_bytes < static_cast<long>(MOD_PATTERNS_OFFSET)) {
        check->needed_bytes = static_cast<long>(MOD_PATTERNS_OFFSET);
        return check->refusal = MODULE_SHORT_HEADER;
    }
    return check->refusal = MODULE_UNKNOWN_SIGNATURE;
}

Song *module_read_song(const uint8_t *module, long size_bytes, const ModuleCheck *check) {
    if (!module || !check || check->refusal != MODULE_ACCEPTED) return nullptr;
    // Every reader of a format reads all of its kinds.
    for (const ModuleReader &reader : READERS)
        if (reader.format == check->format) return reader.read(module, size_bytes, check);
    return nullptr;
}

// The four signature bytes as text: printable ASCII as it is, any other
// byte as \xNN (at most 16 characters).
static void signature_text(const uint8_t signature[4], char *out, size_t out_bytes) {
    size_t at = 0;
    out[0] = '\0';
    for (int i = 0; i < 4 && at < out_bytes; i++) {
        const uint8_t byte = signature[i];
        int n;
        if (byte >= 0x20 && byte < 0x7f)
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
            snprintf(text, text_bytes, "'%s' is not a module: no MOD, XM or S3M signature (bytes 1080 "
                     "to 1083 read \"%s\")", path, shown);
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
