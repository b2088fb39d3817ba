// Renders a tracker module (MOD of any kind, XM, S3M, IT) to a WAV file with the
// engine's own player: 44100 Hz, stereo, signed 16-bit.
//
//   modrender [--seconds N] [--loop] [--timeline FILE] [--] FILE OUT.wav
//
// Without options the song plays once with looping off and the file ends
// where the song ends. --seconds N stops after N seconds (earlier if the
// song ends first); --loop lets the song restart at its end and so needs
// --seconds. --timeline FILE also writes, per row played, the frame of
// OUT.wav at which it starts, its order position, row, speed and tempo
// ("5292 0 0 6 125"), after a first line naming the columns; it is
// written whole when the render is, like OUT.wav. Before rendering it
// prints the title, the format (e.g. "MOD M.K.", "XM 1.04, FastTracker
// v2.00", "IT 2.14, Impulse Tracker 2.15"), the channel count, the song
// message (IT), the samples with their names, lengths in bytes, "16-bit",
// "stereo" and loops (in bytes, "ping-pong"
// when they run back and forth) or, when instruments play several samples
// (XM, IT), each instrument with the samples its notes play (anything but
// printable ASCII shown as '?', so that a module cannot drive the
// terminal), the song length in order positions and the duration. A
// module its reader read with a notice (an S3M's Adlib instruments, which
// stay silent) gets that one line on standard error. While rendering it
// shows a progress bar when standard error is a terminal. An argument
// starting with '-' is always an option; "--" ends the options, for file
// names that start with '-'.
//
// OUT.wav is never left half written: the WAV is written to a temporary
// file beside it and renamed into place once complete, so OUT.wav holds the
// old file, nothing, or the whole new WAV, also when the render is stopped
// by SIGINT, SIGTERM, SIGHUP, SIGQUIT or SIGPIPE (the temporary file is
// removed, then the signal ends the program as usual; one it was started
// with ignored, as by nohup, stays ignored) or runs into a
// file-size limit (an error like any other). An OUT.wav that exists and is
// not a regular file (a device, a FIFO) is written directly. An OUT.wav
// that is FILE itself, under any name, is refused.
//
// Exit status 0 when OUT.wav was written, and for --help (usage on standard
// output). Otherwise one "modrender: ..." line (or the usage line) on
// standard error and status 2 for bad arguments, 1 for a FILE that cannot
// be read or is not a module the player accepts, an OUT.wav that is the
// input, or an OUT.wav that cannot be written. OUT.wav is then as it was.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

#include "music/mod_player.h"
#include "music/module_check.h"
#include "music/module_file.h"
#include "music/song_text.h"
#include "music/wav_file.h"
#include "platform/program_args.h"  // USAGE_ERROR_STATUS
#include "util/alloc.h"
#include "util/file_replace.h"
#include "util/std_fds.h"

constexpr int OUTPUT_RATE_HZ = 44100;
constexpr int CHUNK_FRAMES = 4096;
// A song that never ends with looping off (its commands can loop for ever)
// is cut here unless --seconds says otherwise.
constexpr double DEFAULT_LIMIT_SECONDS = 3600.0;
// The WAV data size is a 32-bit byte count.
constexpr double MAX_SECONDS = 6.0 * 3600.0;
// The shortest render: one frame.
constexpr double MIN_SECONDS = 1.0 / OUTPUT_RATE_HZ;
constexpr int PROGRESS_BAR_CELLS = 40;

// One "modrender: ..." line on standard error; returns the failure status.
static int report(const char *format, ...) __attribute__((format(printf, 1, 2)));
static int report(const char *format, ...) {
    fputs("modrender: ", stderr);
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
    fputc('\n', stderr);
    return 1;
}

// `frames` at the output rate as "M:SS.t".
static void format_time(char *out, size_t out_bytes, long frames) {
    song_time_text(out, out_bytes, static_cast<int64_t>(frames) * 1000 / OUTPUT_RATE_HZ);
}

static void show_progress(long done, long total) {
    const int cells = total > 0 ? static_cast<int>(done * PROGRESS_BAR_CELLS / total) : PROGRESS_BAR_CELLS;
    char bar[PROGRESS_BAR_CELLS + 1];
    for (int i = 0; i < PROGRESS_BAR_CELLS; i++) bar[i] = i < cells ? '#' : '.';
    bar[PROGRESS_BAR_CELLS] = '\0';
    char now[32], all[32];
    format_time(now, sizeof now, done);
    format_time(all, sizeof all, total);
    fprintf(stderr, "\r[%s] %3d%%  %s / %s", bar, total > 0 ? static_cast<int>(done * 100 / total) : 100,
            now, all);
    fflush(stderr);
}

// Whether each instrument plays one sample of its own, instrument n sample
// n (MOD, S3M): then the samples alone are listed.
static bool one_sample_each(const Song *song) {
    if (song->instrument_count != song->sample_count) return false;
    for (int i = 0; i < song->instrument_count; i++)
        for (uint16_t s : song->instruments[i].note_samples)
            if (s != 0 && s != i + 1) return false;
    return true;
}

static bool blank(const char *name) {
    for (const char *c = name; *c; c++)
        if (*c != ' ') return false;
    return true;
}

// One sample's line after `indent`: its number in the song, name, size,
// "16-bit" for 16-bit data, and its loop in bytes with "ping-pong" for a
// loop that runs back and forth. A sample without a name or data is left
// out.
static void print_sample(const Song *song, int number, const char *indent) {
    const SongSample *s = &song->samples[number - 1];
    if (blank(s->name) && s->length == 0) return;
    char shown[SONG_NAME_BYTES + 1];
    song_printable_text(shown, sizeof shown, s->name);
    const unsigned frame_bytes = s->bits / 8u * (s->stereo ? 2u : 1u);
    printf("%s%2d  %-22s %7u bytes", indent, number, shown, static_cast<unsigned>(s->length * frame_bytes));
    if (s->bits == 16) printf("  16-bit");
    if (s->stereo) printf("  stereo");
    if (s->loop != SONG_LOOP_NONE)
        printf("  loop %u+%u%s", static_cast<unsigned>(s->loop_start * frame_bytes),
               static_cast<unsigned>(s->loop_length * frame_bytes), s->loop == SONG_LOOP_PING_PONG ? " ping-pong" : "");
    printf("\n");
}

// The listing before the render: title, format, channels, the samples (or
// the instruments with the samples their notes play, numbered across the
// song), song length and duration.
static void print_module(const ModPlayer *player, long frames, int cut) {
    const Song *song = mod_player_song(player);
    char shown[SONG_FORMAT_NAME_BYTES + 1];  // titles and names fit too
    song_printable_text(shown, sizeof shown, song->title);
    printf("Title:    %s\n", shown);
    song_printable_text(shown, sizeof shown, song->format_name);
    printf("Format:   %s\n", shown);
    printf("Channels: %d\n", song->channel_count);
    size_t at = 0;
    for (const char *label = "Message:  "; song_message_line(song->message, &at, shown, sizeof shown); label = "          ")
        printf("%s%s\n", label, shown);
    if (one_sample_each(song)) {
        printf("Samples:\n");
        for (int n = 1; n <= song->sample_count; n++) print_sample(song, n, "  ");
    } else {
        // Samples that no note of any instrument plays are never heard and
        // not listed.
        printf("Instruments:\n");
        for (int i = 0; i < song->instrument_count; i++) {
            const SongInstrument *in = &song->instruments[i];
            bool plays[SONG_MAX_SAMPLES + 1] = {};
            bool any = false;
            for (uint16_t s : in->note_samples)
                if (s != 0 && s <= song->sample_count) any = plays[s] = true;
            if (!any && blank(in->name)) continue;
            song_printable_text(shown, sizeof shown, in->name);
            printf("  %2d  %s\n", i + 1, shown);
            for (int n = 1; n <= song->sample_count; n++)
                if (plays[n]) print_sample(song, n, "      ");
        }
    }
    printf("Song:     %d positions\n", song->order_count);
    char duration[32];
    format_time(duration, sizeof duration, frames);
    printf("Duration: %s (%ld frames at %d Hz)%s\n", duration, frames, OUTPUT_RATE_HZ,
           cut ? ", cut short" : "");
    fflush(stdout);
}

// The rows' start frames, gathered by the player's callbacks while it
// renders: each tick callback comes as a tick has been mixed, before the
// next one starts, and adds the frames of that tick; the row callback
// then finds the frame at which its row starts.
struct Timeline {
    const ModPlayer *player;
    long frames;                // frames mixed up to the current tick
    std::string text;           // one line per row
};

static void timeline_tick(void *user) {
    Timeline *t = static_cast<Timeline *>(user);
    ModPlayerPosition at;
    if (mod_player_position(t->player, &at) == 0) t->frames += static_cast<long>(at.tick_frames);
}

static void timeline_row(void *user) {
    Timeline *t = static_cast<Timeline *>(user);
    ModPlayerPosition at;
    if (mod_player_position(t->player, &at) != 0) return;
    char line[80];
    snprintf(line, sizeof line, "%ld %d %d %d %d\n", t->frames, at.order, at.row, at.speed, at.tempo);
    t->text += line;
}

// Writes the timeline to `path`, replaced only when whole (file_replace.h).
// Returns 0, or -1 with errno set.
static int write_timeline(const char *path, const std::string &text) {
    FileReplace out;
    if (file_replace_open(&out, path) != 0) return -1;
    const std::string all = "# frame order row speed tempo\n" + text;
    errno = 0;
    const bool written = fwrite(all.data(), 1, all.size(), out.file) == all.size();
    return file_replace_close(&out, written);
}

// Renders `frames` frames of `player` into `file` after the header.
// Returns 0, or -1 when writing fails.
static int render_to(ModPlayer *player, FILE *file, long frames, int progress) {
    uint8_t header[WAV_FILE_HEADER_BYTES];
    wav_file_header(header, OUTPUT_RATE_HZ, frames);
    if (fwrite(header, 1, sizeof header, file) != sizeof header) return -1;
    int16_t *samples = static_cast<int16_t *>(engine_malloc(CHUNK_FRAMES * 2 * sizeof(int16_t)));
    int result = samples ? 0 : -1;
    int shown_percent = -1;
    for (long done = 0; result == 0 && done < frames;) {
        const int n = frames - done < CHUNK_FRAMES ? static_cast<int>(frames - done) : CHUNK_FRAMES;
        mod_player_render_s16(player, samples, n);
        if (wav_file_write_frames(file, samples, static_cast<size_t>(n)) != 0) result = -1;
        done += n;
        const int percent = static_cast<int>(done * 100 / frames);
        if (progress && percent != shown_percent) {
            show_progress(done, frames);
            shown_percent = percent;
        }
    }
    if (progress) fputc('\n', stderr);
    engine_free(samples);
    return result;
}

// The WAV goes through a temporary file beside OUT.wav, renamed into place
// when whole (util/file_replace.h); a stop signal removes it.
static const int STOP_SIGNALS[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE};

// Removes the unfinished temporary file, then lets the signal end the
// program the way it would have without this handler.
static void remove_temp_and_stop(int sig) {
    file_replace_remove_pending();
    signal(sig, SIG_DFL);
    raise(sig);
}

static void install_stop_handlers(void) {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = remove_temp_and_stop;
    sigemptyset(&action.sa_mask);
    for (int sig : STOP_SIGNALS) sigaddset(&action.sa_mask, sig);
    // A signal inherited as ignored (nohup, a background job) is the
    // starter's wish that the render go on through it.
    for (int sig : STOP_SIGNALS) {
        struct sigaction current;
        if (sigaction(sig, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
        sigaction(sig, &action, nullptr);
    }
    // Past a file-size limit a write then fails with EFBIG and the render
    // ends through its ordinary error path instead of a core dump.
    signal(SIGXFSZ, SIG_IGN);
}

// Plays the module bytes read from in_path into out_path: the song once
// (looping off) up to `seconds` (0: no limit but the default one), or with
// `loop` for exactly `seconds`, and with `timeline_path` (or null) the
// rows' start frames there. Returns the exit status: 0, or 1 after one
// line on standard error; out_path is changed only by a complete WAV.
static int render_module(const uint8_t *module, long size, const char *in_path,
                         const char *out_path, double seconds, int loop, const char *timeline_path) {
    // The player's own check says why it refuses, naming the file. A
    // refused module is named before the output is looked at; running out
    // of memory, after.
    ModuleCheck check;
    ModPlayer *player = mod_player_create_checked(OUTPUT_RATE_HZ, module, size, &check);
    char reason[PATH_MAX + 160];
    module_refusal_text(&check, in_path, reason, sizeof reason);
    if (!player && check.refusal != MODULE_NO_MEMORY) return report("%s", reason);
    for (const char *written : {out_path, timeline_path}) {
        if (written && file_same(in_path, written)) {
            mod_player_destroy(player);
            return report("'%s' is the input module '%s': not overwriting it", written, in_path);
        }
    }
    if (!player) return report("%s", reason);
    const double limit_seconds = seconds > 0.0 ? seconds : DEFAULT_LIMIT_SECONDS;
    const long limit_frames = static_cast<long>(limit_seconds * OUTPUT_RATE_HZ + 0.5);
    // The song's length comes from its sequencer alone, without mixing it.
    const long frames = loop ? limit_frames : static_cast<long>(mod_song_length(player, limit_frames, nullptr));
    if (frames < 0) {
        // Only the scan's copy of the player can fail: memory ran out, as
        // it can for the player itself.
        mod_player_destroy(player);
        check.refusal = MODULE_NO_MEMORY;
        module_refusal_text(&check, in_path, reason, sizeof reason);
        return report("%s", reason);
    }
    mod_player_set_loop(player, static_cast<uint8_t>(loop));
    FileReplace out;
    if (file_replace_open(&out, out_path) != 0) {
        mod_player_destroy(player);
        return report("cannot create '%s': %s", out_path, strerror(errno));
    }
    print_module(player, frames, seconds == 0.0 && frames == limit_frames);
    // What the reader could not read as the file has it (an S3M's Adlib
    // instruments) is rendered silent, and said once.
    if (module_read_notice_text(&check.read, in_path, reason, sizeof reason)) report("%s", reason);
    Timeline timeline = {player, 0, ""};
    if (timeline_path) {
        mod_player_set_tick_callback(player, timeline_tick, &timeline);
        mod_player_set_row_callback(player, timeline_row, &timeline);
    }
    errno = 0;
    const int rendered = render_to(player, out.file, frames, isatty(STDERR_FILENO)) == 0;
    const int write_errno = errno;
    mod_player_destroy(player);
    if (file_replace_close(&out, rendered) != 0) {
        const int err = rendered ? errno : write_errno;
        return report("cannot write '%s': %s", out_path, strerror(err ? err : EIO));
    }
    if (timeline_path && write_timeline(timeline_path, timeline.text) != 0)
        return report("cannot write '%s': %s", timeline_path, strerror(errno));
    printf("Wrote:    %s\n", out_path);
    return 0;
}

static const char USAGE[] = "usage: modrender [--seconds N] [--loop] [--timeline FILE] [--] FILE OUT.wav\n";

static int usage(void) {
    fputs(USAGE, stderr);
    return USAGE_ERROR_STATUS;
}

// Reads the value of --seconds: a number of at least one frame and at most
// MAX_SECONDS, whole (nothing after it), without overflow. Returns 0 and
// sets *seconds, or -1.
static int parse_seconds(const char *text, double *seconds) {
    char *end = nullptr;
    errno = 0;
    const double value = strtod(text, &end);
    if (end == text || *end != '\0' || errno == ERANGE) return -1;
    if (!(value >= MIN_SECONDS) || value > MAX_SECONDS) return -1;
    *seconds = value;
    return 0;
}

int main(int argc, char **argv) {
    if (keep_standard_fds_open() != 0) return 1;
    double seconds = 0.0;
    int loop = 0;
    const char *timeline = nullptr;
    const char *paths[2] = {nullptr, nullptr};
    int path_count = 0;
    int options_done = 0;
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        if (!options_done && arg[0] == '-') {
            if (strcmp(arg, "--") == 0) {
                options_done = 1;
            } else if (strcmp(arg, "--help") == 0) {
                fputs(USAGE, stdout);
                return 0;
            } else if (strcmp(arg, "--seconds") == 0 && i + 1 < argc) {
                if (parse_seconds(argv[++i], &seconds) != 0) {
                    report("--seconds wants a number of at least one frame (1/%d) and at most %.0f, not '%s'",
                           OUTPUT_RATE_HZ, MAX_SECONDS, argv[i]);
                    return USAGE_ERROR_STATUS;
                }
            } else if (strcmp(arg, "--loop") == 0) {
                loop = 1;
            } else if (strcmp(arg, "--timeline") == 0 && i + 1 < argc) {
                timeline = argv[++i];
            } else {
                // Unknown options, "--seconds" without its value and "-"
                // alike: never taken for a file name.
                return usage();
            }
        } else if (path_count < 2) {
            paths[path_count++] = arg;
        } else {
            return usage();
        }
    }
    if (path_count != 2) return usage();
    if (loop && seconds == 0.0) {
        report("--loop needs --seconds N: a looping song never ends");
        return USAGE_ERROR_STATUS;
    }
    install_stop_handlers();
    const char *in_path = paths[0], *out_path = paths[1];
    long size = 0;
    char reason[PATH_MAX + 160];
    uint8_t *module = mod_file_read(in_path, &size, reason, sizeof reason);
    if (!module) return report("%s", reason);
    const int status = render_module(module, size, in_path, out_path, seconds, loop, timeline);
    engine_free(module);
    return status;
}
