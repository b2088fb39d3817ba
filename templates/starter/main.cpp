// A demo of your own on the kevo engine: opens the 400 x 240 window, plays a
// module, and draws a spinning star of coloured spokes under a bouncing
// title until Escape, closing the window, or SIGINT, SIGQUIT, SIGHUP or
// SIGTERM ends it with status 0.
//
//   ./demo [module.mod]      (default res/kevo.mod, relative to here)
//
// Replace draw_frame with your own scene: everything the engine offers is
// declared by <kevo/kevo.h>.
#include <SDL/SDL.h>

#include <kevo/kevo.h>

// The first ring of 24 hues in the fixed palette, blue round to violet.
static const uint8_t HUE_RING_FIRST = 32;
static const int SPOKES = 24;
static const int32_t STAR_X = 200, STAR_Y = 136, STAR_RADIUS = 90;

// Where a spoke of angle `angle` (Fixed degrees) ends, `radius` pixels out.
static void spoke_end(Fixed angle, int32_t radius, int32_t *x, int32_t *y) {
    *x = STAR_X + (int32_t)(((int64_t)fixed_cos(angle) * radius) >> FIXED_SHIFT);
    *y = STAR_Y + (int32_t)(((int64_t)fixed_sin(angle) * radius) >> FIXED_SHIFT);
}

static void draw_frame(TextObject *title, TextObject *caption) {
    fb_clear();
    // The star turns half a degree a frame; its spokes breathe in and out.
    const Fixed turn = (Fixed)(frame_counter % 720) * (FIXED_DEGREE / 2);
    const int32_t reach = STAR_RADIUS - 20 + (int32_t)((fixed_sin(turn * 4) * 20) >> FIXED_SHIFT);
    for (int i = 0; i < SPOKES; i++) {
        int32_t x, y;
        spoke_end(turn + i * (FIXED_FULL_TURN / SPOKES), reach, &x, &y);
        draw_line(STAR_X, STAR_Y, x, y, (uint8_t)(HUE_RING_FIRST + i));
    }
    set_draw_color(15);
    draw_circle(STAR_X, STAR_Y, STAR_RADIUS, 120);

    // The title hops along the top: up by |sin| of four degrees a frame.
    Fixed hop = fixed_sin((Fixed)(frame_counter % 90) * (4 * FIXED_DEGREE));
    if (hop < 0) hop = -hop;
    text_set_position(title, 200 - 2 * 32, 16 - (int32_t)((hop * 14) >> FIXED_SHIFT));
    set_draw_color(14);
    text_draw(title);
    set_draw_color(7);
    text_draw(caption);
}

// True once Escape is pressed or the window is closed.
static bool quit_requested(void) {
    SDL_Event event;
    bool quit = false;
    while (SDL_PollEvent(&event)) {
        if (event.type == SDL_QUIT) quit = true;
        if (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE) quit = true;
    }
    return quit;
}

int main(int argc, char **argv) {
    // First things: descriptors 0-2 stay open (so nothing the program
    // writes lands in a file it opens), and a stop signal from now on ends
    // the program with status 0 at the next fb_present, even during start-up.
    if (keep_standard_fds_open() != 0) return 1;
    exit_signals_install(handle_exit_signal);

    Font *big = font_new(glyphs_32x32, 32, 32);
    Font *small = font_new(glyphs_8x16, 8, 16);
    TextObject *title = text_new(big, 4, 0xFFFFFFFFu, 0, 0);
    TextObject *caption = text_new(small, 40, 0xFFFFFFFFu, 4, 240 - 16);
    text_append(title, "KEVO");
    text_append(caption, "Escape quits");

    // The module is read and the audio device opened before the window:
    // SDL 1.2 brings its audio up by itself. Without a module or a device
    // one "MUSIC: ..." line says so and the demo runs silently.
    music_start_file(argc > 1 ? argv[1] : MUSIC_MODULE_PATH);
    // The window and the framebuffer.
    video_init();
    video_set_title("starter");
    audio_unpause();

    while (!quit_requested()) {
        draw_frame(title, caption);
        fb_present();  // paced to one frame per 17 ms
        frame_counter++;
    }
    text_free(caption);
    text_free(title);
    font_free(small);
    font_free(big);
    return 0;
}
