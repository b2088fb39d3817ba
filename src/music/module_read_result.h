// What a reader of a module file says of it: why it refused the file, with
// the numbers its sentence gives, or what it read differently from what
// an accepted file says; and those in words. Part of the module check's
// result (module_check.h), filled by the XM, S3M and IT readers.
#ifndef MUSIC_MODULE_READ_RESULT_H
#define MUSIC_MODULE_READ_RESULT_H

#include <cstddef>
#include <cstdint>

// Why a reader refused a file: MODULE_READ_OK (0) when it did not.
enum ModuleReadRefusal : uint8_t {
    MODULE_READ_OK = 0,
    MODULE_READ_EMPTY,          // null bytes or a size of 0
    MODULE_READ_NOT_FORMAT,     // the format's signature is not there
    MODULE_READ_UNSUPPORTED,    // not there either, but another tracker's
                                // format's is: `unsupported` names it
    MODULE_READ_VERSION,        // an XM version other than 1.04 (value)
    MODULE_READ_TRUNCATED,      // the file ends inside `part` number `index`
                                // (needed_bytes of size_bytes)
    MODULE_READ_CHANNELS,       // value channels, not 1 .. 32
    MODULE_READ_ORDERS,         // value order positions, not 1 .. 256
    MODULE_READ_PATTERNS,       // value patterns, more than 256
    MODULE_READ_INSTRUMENTS,    // value instruments, more than 128
    MODULE_READ_ROWS,           // pattern `index` has value rows, not 1 .. 256
    MODULE_READ_SAMPLES,        // instrument `index` has value samples, more than 16
    MODULE_READ_NO_MEMORY,      // the song's blocks could not be allocated
    MODULE_READ_FILE_TYPE,      // an S3M mark on a file whose type (value) is
                                // not 16, a module
    MODULE_READ_SAMPLE_COUNT,   // value samples: an IT's more than 2048, or
                                // more than 128 without instruments
};

// The parts of a file a truncation names. A file that ends among the
// instruments is no refusal: the instruments it cuts are read as silent.
enum ModuleReadPart : uint8_t {
    MODULE_PART_NONE = 0,
    MODULE_PART_HEADER,         // the song header
    MODULE_PART_ORDERS,         // the order list and the S3M pointer tables
    MODULE_PART_PATTERN,        // pattern `index` (from 0), header or data
};

// A reader's result: the refusal with the numbers its sentence gives, and
// for an accepted file what was read differently from what it says.
struct ModuleReadResult {
    ModuleReadRefusal refusal;
    uint8_t format;             // SongFormat of the reader (SONG_FORMAT_NONE
                                // for EMPTY and UNSUPPORTED)
    uint8_t part;               // ModuleReadPart, for MODULE_READ_TRUNCATED
    const char *unsupported;    // MODULE_READ_UNSUPPORTED: the format's name
                                // ("MED", "MTM", ...), a static string
    long value;                 // the count or version the refusal names
    long index;                 // the pattern or instrument it names
    long needed_bytes;          // MODULE_READ_TRUNCATED: where the part ends
    long size_bytes;            // the size read
    // Notices of an accepted file
    int adlib_instruments;      // S3M Adlib instruments, read as silent
    int silent_samples;         // samples in a packing the reader does not
                                // decode (S3M's DP30ADPCM), read as silent
    int cut_samples;            // samples the file's end cuts short
    int cut_instruments;        // instruments whose headers the file's end
                                // cuts, read as silent
    int skipped_plugins;        // an IT's OpenMPT plugins, not played
};

// The sentence for result->refusal, naming the file as `path` (null reads
// as ""), written into `text` (at most text_bytes bytes, NUL-ended, cut to
// fit). Unsupported formats read "'PATH': MED modules are not supported";
// the others "'PATH' is not a module: REASON", e.g.
//   its XM version is 1.03 (only 1.04 is read)
//   its header says 40 channels (1 to 32 are read)
//   pattern 7 has 300 rows (1 to 256 are read)
//   truncated: instrument 3 needs 12345 bytes, the file has 12000
//   its S3M header says file type 17 at byte 29 (16, a module, is read)
// Returns 1 when a refusal was put into words, 0 (text "") for an accepted
// file or a null result; null text or text_bytes 0 writes nothing.
int module_read_refusal_text(const ModuleReadResult *result, const char *path, char *text,
                             size_t text_bytes);

// The one line an accepted file's notices make, e.g. "'PATH': 2 Adlib
// instruments are not played: their notes stay silent" or "'PATH': 1
// OpenMPT plugin is not played: what it adds stays silent", written as
// module_read_refusal_text writes. Returns 1 when there was something to
// say (Adlib instruments, silent samples or plugins), else 0 with text "".
int module_read_notice_text(const ModuleReadResult *result, const char *path, char *text,
                            size_t text_bytes);

#endif
