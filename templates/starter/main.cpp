// A demo of your own on the kevo engine: opens the 400 x 240 window, plays a
// module, and draws a spinning star of coloured spokes under a bouncing
// title until Escape, closing the window, or SIGINT, SIGQUIT, SIGHUP or
// SIGTERM ends it with status 0.
//
//   ./demo [module] [--frames N] [--shot out.png] [--scale k]
//
// (the module, MOD, XM or S3M, is res/kevo.mod relative to here unless
// given, or KEVO_MUSIC=path names another). The frame
// loop (<kevo/platform/frame_loop.h>) reads the command line, opens the
// window and ends the loop on Escape, the window's close or a stop signal;
// F or Alt-Enter toggles fullscreen. Replace draw_frame with your own
// scene: everything the engine offers is declared by <kevo/kevo.h>.
//
// The star's reach is a sync track: "star:reach" pixels more, keyed to the
// music's rows, from res/starter_star-3Areach.track when there is one (0
// without). KEVO_SYNC=localhost ./demo connects to a sync editor, where the
// track can be keyed live and saved (sync/sync.h, platform/sync_rows.h).
#include <kevo/kevo.h>

// One spoke for each hue of the palette's bright ring, blue round to blue.
static const int SPOKES = PALETTE_RING_HUES;
static const int32_t STAR_X = 200, STAR_Y = 136, STAR_RADIUS = 90;

// Where a spoke of angle `angle` (Fixed degrees) ends, `radius` pixels out.
static void spoke_end(Fixed angle, int32_t radius, int32_t *x, int32_t *y) {
    *x = STAR_X + static_cast<int32_t>((static_cast<int64_t>(fixed_cos(angle)) * radius) >> FIXED_SHIFT);
    *y = STAR_Y + static_cast<int32_t>((static_cast<int64_t>(fixed_sin(angle)) * radius) >> FIXED_SHIFT);
}

static void draw_frame(TextObject *title, TextObject *caption, double extra_reach) {
    fb_clear();
    // The star turns half a degree a frame; its spokes breathe in and out.
    const Fixed turn = static_cast<Fixed>(frame_counter % 720) * (FIXED_DEGREE / 2);
    const int32_t reach = STAR_RADIUS - 20 + static_cast<int32_t>((fixed_sin(turn * 4) * 20) >> FIXED_SHIFT) +
                          static_cast<int32_t>(extra_reach);
    for (int i = 0; i < SPOKES; i++) {
        int32_t x, y;
        spoke_end(turn + i * (FIXED_FULL_TURN / SPOKES), reach, &x, &y);
        draw_line(STAR_X, STAR_Y, x, y, palette_ring(PALETTE_RING_BRIGHT, i));
    }
    set_draw_color(PALETTE_WHITE);
    draw_circle(STAR_X, STAR_Y, STAR_RADIUS, 120);

    // The title hops along the top: up by |sin| of four degrees a frame.
    Fixed hop = fixed_sin(static_cast<Fixed>(frame_counter % 90) * (4 * FIXED_DEGREE));
    if (hop < 0) hop = -hop;
    text_set_position(title, 200 - 2 * 32, 16 - static_cast<int32_t>((hop * 14) >> FIXED_SHIFT));
    set_draw_color(PALETTE_YELLOW);
    text_draw(title);
    set_draw_color(PALETTE_LIGHT_GREY);
    text_draw(caption);
}

static const FrameLoopSetup SETUP = {
    "demo", "[module]",
    "Plays a module (MOD, XM or S3M: res/kevo.mod, or KEVO_MUSIC's, unless\n"
    "given) under a spinning star and a hopping title. Escape or closing the\n"
    "window ends it; F or Alt-Enter toggles fullscreen; --frames N stops after\n"
    "N frames and --shot saves the last one as PNG.\n",
    nullptr, true, false, nullptr};

int main(int argc, char **argv) {
    // First thing: the command line, and from now on a stop signal ends
    // the loop (and so the program, with status 0), even during start-up.
    FrameLoop loop;
    if (frame_loop_start(&loop, &SETUP, argc, argv) != 0) return loop.status;

    Font *big = font_new(glyphs_32x32, 32, 32);
    Font *small = font_new(glyphs_8x16, 8, 16);
    TextObject *title = text_new(big, 4, 0xFFFFFFFFu, 0, 0);
    TextObject *caption = text_new(small, 40, 0xFFFFFFFFu, 4, 240 - 16);
    text_append(title, "KEVO");
    text_append(caption, "Escape quits");

    // The module is read and the audio device opened before the window:
    // SDL 1.2 brings its audio up by itself. Without a module or a device
    // one "MUSIC: ..." line says so and the demo runs silently. A module
    // named on the command line wins over KEVO_MUSIC.
    MusicStartOptions music = music_start_options(loop.file ? loop.file : MUSIC_MODULE_PATH);
    music.music_env = loop.file ? 0 : 1;
    music_start_with(&music);
    // The tracks follow the music started above (or count rows without it).
    SyncRows rows;
    sync_rows_start(&rows, "res/starter");
    const SyncTrack *reach = sync_track(rows.device, "star:reach");
    frame_loop_open(&loop);  // the window, named after the program
    audio_unpause();

    while (frame_loop_next(&loop)) {  // paced to one frame per 17 ms
        const double row = sync_rows_update(&rows);
        draw_frame(title, caption, sync_value(reach, row));
    }
    sync_rows_stop(&rows);
    text_free(caption);
    text_free(title);
    font_free(small);
    font_free(big);
    return loop.status;
}
