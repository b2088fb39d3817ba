// A reader's result in words: the sentence for each refusal of the XM, S3M
// and IT readers, and the one line an accepted file's notices make.
#include "music/module_read_result.h"

#include <cstdio>
#include <cstring>

#include "music/song.h"

static const char *format_word(uint8_t format) {
    switch (format) {
        case SONG_FORMAT_XM: return "XM";
        case SONG_FORMAT_S3M: return "S3M";
        case SONG_FORMAT_IT: return "IT";
        default: return "module";
    }
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
            else if (r->format == SONG_FORMAT_IT)
                snprintf(out, out_bytes, "it has no IT signature (\"IMPM\" at byte 0)");
            else
                snprintf(out, out_bytes, "it has no XM signature (\"Extended Module: \" at byte 0)");
            break;
        case MODULE_READ_FILE_TYPE:
            snprintf(out, out_bytes, "its S3M header says file type %ld at byte 29 (16, a module, is read)", r->value);
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
        case MODULE_READ_SAMPLE_COUNT:
            snprintf(out, out_bytes, "its %s header says %ld samples (at most 2048 are read, 128 without "
                     "instruments)", word, r->value);
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
        (result->adlib_instruments == 0 && result->silent_samples == 0 && result->skipped_plugins == 0))
        return 0;
    if (!writable) return 1;
    if (!path) path = "";
    if (result->skipped_plugins > 0) {
        snprintf(text, text_bytes, "'%s': %d OpenMPT plugin%s not played: what %s stays silent", path,
                 result->skipped_plugins, result->skipped_plugins == 1 ? " is" : "s are",
                 result->skipped_plugins == 1 ? "it adds" : "they add");
        return 1;
    }
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
