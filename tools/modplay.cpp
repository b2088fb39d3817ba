// Plays a tracker module (MOD, XM or S3M) to the audio device, without a
// window, with the engine's own player: exactly the sound modrender
// renders into a WAV file.
//
//   modplay [--loop] [--from ORDER[:ROW]] [--] FILE
//
// When standard error is a terminal it shows the title, a line with the
// format and the channel count, and one live line of the position as
// heard: order position, row and time of the song's total, cut to the
// terminal's width so that it never wraps. The module is FILE whatever
// KEVO_MUSIC says. It ends when
// the song's end has been heard (never with --loop), or on Ctrl-C (SIGINT,
// SIGQUIT, SIGHUP, SIGTERM; one it was started with ignored, as by nohup,
// stays ignored), with status 0. With --loop, --from finds the rows the
// song reaches going round too. An argument starting with '-' is always an
// option; "--" ends the options, for file names that start with '-'. A
// file that cannot be read or is not a module, a position the song never
// plays and an audio device that cannot be opened: one "modplay: ..." line
// on standard error and status 1; arguments it cannot take (a --from that
// is no position among them), the usage line and status 2. KEVO_CAPTURE,
// which records programs that show frames, is ignored here, with one line
// that says so.
#include <SDL/SDL.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "music/mod_player.h"
#include "music/song_text.h"
#include "platform/audio_output.h"
#include "platform/capture.h"
#include "platform/exit_signals.h"
#include "platform/music_seek.h"
#include "platform/music_start.h"
#include "platform/music_sync.h"
#include "platform/program_args.h"
#include "util/std_fds.h"

constexpr int STATUS_LINE_MS = 50;
// How long a song with looping off may run for its length to be shown.
constexpr int64_t LENGTH_LIMIT_SECONDS = 3600;

static const char USAGE[] = "usage: modplay [--loop] [--from ORDER[:ROW]] [--] FILE\n";

// One "modplay: ..." line on standard error; returns the failure status.
static int fail(const char *format, ...) __attribute__((format(printf, 1, 2)));
static int fail(const char *format, ...) {
    fputs("modplay: ", stderr);
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
    fputc('\n', stderr);
    return 1;
}

// The title, then the format and the channel count, made harmless for the
// terminal.
static void print_title(const ModPlayer *player) {
    const Song *song = mod_player_song(player);
    char title[SONG_TITLE_BYTES + 1];
    song_printable_text(title, sizeof title, song->title);
    fprintf(stderr, "%s\n", title[0] ? title : "(untitled)");
    char format[SONG_FORMAT_NAME_BYTES + 1];
    song_printable_text(format, sizeof format, song->format_name);
    fprintf(stderr, "%s, %d channel%s\n", format, song->channel_count, song->channel_count == 1 ? "" : "s");
}

// Columns of the terminal on standard error, asked each time (it may be
// resized while playing); 0 when it does not say.
static int terminal_columns(void) {
    struct winsize size;
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

// The live line, rewritten in place after a carriage return. On a
// terminal narrower than the line it is cut one column short of the
// width: a line that reached the last column could wrap, and every
// rewrite would then scroll a new line.
static void show_position(const ModPlayer *player, int64_t total_ms, bool loop) {
    MusicPosition at;
    if (music_heard_position(&at) != 0) return;
    int64_t ms = at.song_ms;
    if (loop && total_ms > 0) ms %= total_ms;
    char now[32], all[32], line[128];
    song_time_text(now, sizeof now, ms);
    song_time_text(all, sizeof all, total_ms);
    int length = snprintf(line, sizeof line, "order %3d/%d  row %2d  %s / %s ", at.order,
                          mod_player_song(player)->order_count,
                          at.row, now, all);
    if (length < 0) return;
    if (length >= static_cast<int>(sizeof line)) length = static_cast<int>(sizeof line) - 1;
    const int columns = terminal_columns();
    if (columns > 0 && length > columns - 1) length = columns - 1;
    fprintf(stderr, "\r%.*s", length, line);
    fflush(stderr);
}

int main(int argc, char **argv) {
    if (keep_standard_fds_open() != 0) return 1;
    // From here on a stop signal ends the program with status 0, also
    // during the start-up (a second one at once).
    exit_signals_install();
    bool loop = false;
    const char *from = nullptr;
    const char *path = nullptr;
    bool options_done = false;
    for (int i = 1; i < argc; i++) {
        if (!options_done && strcmp(argv[i], "--") == 0) {
            options_done = true;
        } else if (!options_done && strcmp(argv[i], "--help") == 0) {
            fputs(USAGE, stdout);
            return 0;
        } else if (!options_done && strcmp(argv[i], "--loop") == 0) {
            loop = true;
        } else if (!options_done && strcmp(argv[i], "--from") == 0 && i + 1 < argc) {
            from = argv[++i];
        } else if ((!options_done && argv[i][0] == '-') || path) {
            // Unknown options, "--from" without its value, "-" and a
            // second file alike.
            fputs(USAGE, stderr);
            return USAGE_ERROR_STATUS;
        } else {
            path = argv[i];
        }
    }
    if (!path) {
        fputs(USAGE, stderr);
        return USAGE_ERROR_STATUS;
    }
    int order = 0, row = 0;
    if (from && music_parse_position(from, &order, &row) != 0) {
        fail("--from wants ORDER or ORDER:ROW (order 0-255, row 0-255), not '%s'", from);
        return USAGE_ERROR_STATUS;
    }
    // Nothing here presents frames: a capture would never end.
    if (capture_decline())
        fputs("modplay: KEVO_CAPTURE is ignored: modplay shows no frames to capture (modrender writes the "
              "sound to a WAV)\n", stderr);

    // The start-up every program shares, with modplay's own needs: its
    // looping, its --from (a failure when never played) instead of
    // KEVO_FROM, and its name on the failure lines.
    MusicStartOptions options = music_start_options(path);
    options.tag = "modplay";
    options.instead = nullptr;
    options.music_env = 0;
    options.loop = loop ? 1 : 0;
    options.from_env = 0;
    options.from_order = from ? order : -1;
    options.from_row = row;
    if (music_start_with(&options) != 0) return 1;
    ModPlayer *player = music_player;
    // The device is still paused: nothing renders the player yet.
    const int64_t length = mod_song_length(player, LENGTH_LIMIT_SECONDS * AUDIO_RATE_HZ, nullptr);
    const int64_t total_ms = length > 0 ? length * 1000 / AUDIO_RATE_HZ : 0;
    const bool terminal = isatty(STDERR_FILENO);
    if (terminal) print_title(player);
    audio_unpause();
    bool ended = false;
    while (!exit_requested() && !ended) {
        MusicEvent event;
        while (music_event_next(&event))
            if (event.kind == MUSIC_EVENT_END) ended = true;
        if (terminal) show_position(player, total_ms, loop);
        SDL_Delay(STATUS_LINE_MS);
    }
    if (terminal) fputc('\n', stderr);
    music_stop();
    SDL_Quit();
    return 0;
}
