// Showcase: one pass of res/kevo.mod (87 s) with pictures driven by what is
// heard. Every scene follows the music through the heard position and the
// music events: the scene changes with the song's order position (its
// pattern boundaries), the screen flashes on the kick drum and the 3D
// camera cuts on the snare, particles burst on the snare, the equalizer
// bars jump with each channel's notes, and text is typed to the song's
// time. It uses the whole engine: the 3D scene graph with textured OBJ
// models, the particle effect, the typewriter and jittering text, sprites,
// line and rectangle lists, and pixels, lines and circles.
//
//   showcase [--scale k] [--frames N] [--shot out.png]
//
// Escape, closing the window or SIGINT, SIGQUIT, SIGHUP, SIGTERM end it
// with status 0, and so does the song's end. F or Alt-Enter toggles
// fullscreen. KEVO_MUSIC=path shows another module (MOD, XM or S3M)
// instead; KEVO_FROM=ORDER[:ROW] starts it mid-song; KEVO_CAPTURE records
// it (see the README).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "assets/obj.h"
#include "gfx2d/framebuffer.h"
#include "gfx2d/gfx2d.h"
#include "gfx2d/palette.h"
#include "music/mod_player.h"
#include "platform/audio_output.h"
#include "platform/engine_clock.h"
#include "platform/frame_loop.h"
#include "platform/music_start.h"
#include "platform/music_sync.h"
#include "platform/particles_run.h"
#include "render3d/render3d.h"

// The song (tools/compose_kevo.cpp): channel 1 plays the drums. Another
// module (KEVO_MUSIC) drives the same pictures through whichever of its
// notes fall there.
static const int DRUM_CHANNEL = 1;
static const int INSTRUMENT_KICK = 5, INSTRUMENT_SNARE = 6, INSTRUMENT_HAT = 7, INSTRUMENT_OPEN_HAT = 8;
// Without music the scenes still change, one per pattern's time at the
// song's tempo (64 rows x 6 ticks x 20 ms), and the show ends after them.
static const int64_t PATTERN_MS = 7680;
static const int SONG_POSITIONS = 11;

static const int MODEL_SCALE = 64;
static const int STARS = 96;
static const int BARS = 16;
static const int BALLS = 4;
static const int SPRITE_PX = 16;

// The typed texts, line by line. A text object breaks lines only at its
// wrap width (a newline byte is drawn as a glyph like any other), so each
// line is padded with spaces to the longest and the wrap width set to it.
static const char *const INTRO_LINES[] = {"KEVO ENGINE", "", "EVERY PICTURE HERE", "IS DRIVEN BY THE MUSIC",
                                          "AS IT IS HEARD", nullptr};
static const char *const OUTRO_LINES[] = {"THANKS FOR WATCHING", "", "400 X 240, 256 COLOURS", "FOUR CHANNELS",
                                          "NO FLOATING POINT", "IN THE SOUND", "", "MADE WITH THE KEVO ENGINE",
                                          nullptr};
static const int TYPED_CAPACITY = 256;      // characters, the padded texts included
static const int SMALL_GLYPH_PX = 8;
static const int32_t TYPED_TOP_PX = 40;
// A character when more than 30 ms of the song have been heard since the
// last: every other frame, so the longest text is typed within its order.
static const int32_t TYPE_INTERVAL_MS = 30;

struct Show {
    Font *big, *small;
    TextObject *typed, *hud;
    Typewriter *typewriter;
    TextGroup *title;
    Mesh *crate, *torus;
    // Two scene graphs: the crate alone, and the crate beside the torus (a
    // mesh is transformed once a frame, so each appears once in a graph).
    SceneNode *solo, *solo_camera, *solo_spin;
    SceneNode *pair, *pair_camera, *crate_spin, *torus_spin;
    Sprite *balls[BALLS];
    LineList *star;
    RectList *bars;
    int stars_x[STARS], stars_y[STARS], stars_speed[STARS];
    // Driven by the music events
    int scene;               // the order position the pictures show
    int32_t rows;            // rows heard so far
    char typed_text[TYPED_CAPACITY + 1];  // the typewriter's source: the lines laid out
    int flash;               // frames of kick flash left
    int cut;                 // camera angle set by snares
    int bar_level[BARS];     // equalizer bars, decaying
    int ball_jump[BALLS];    // sprite jumps from hats
    int64_t total_ms;        // the song's length
};

static void paint_ball(Sprite *sprite, int hue) {
    const double r = SPRITE_PX / 2.0;
    for (int y = 0; y < SPRITE_PX; y++)
        for (int x = 0; x < SPRITE_PX; x++) {
            const double dx = x + 0.5 - r, dy = y + 0.5 - r, d = sqrt(dx * dx + dy * dy);
            sprite->pixels[y * SPRITE_PX + x] =
                d < r ? (d < r * 0.35 ? PALETTE_WHITE : palette_ring(PALETTE_RING_BRIGHT, hue + static_cast<int>(d / r * 3))) : PALETTE_BLACK;
        }
}

static bool show_init(Show *s) {
    memset(s, 0, sizeof *s);
    s->big = font_new(glyphs_32x32, 32, 32);
    s->small = font_new(glyphs_8x16, 8, 16);
    if (!s->big || !s->small) return false;
    s->typed = text_new(s->small, TYPED_CAPACITY, 320, 40, TYPED_TOP_PX);
    s->hud = text_new(s->small, 96, UINT32_MAX, 8, 222);
    s->typewriter = s->typed ? typewriter_new(s->typed, TYPE_INTERVAL_MS) : nullptr;
    s->title = text_group_new(s->big, 72, 16 - 32, 5, 5, 3);
    if (!s->typed || !s->hud || !s->typewriter || !s->title || text_group_set_text(s->title, "KEVO SYNC") != 0)
        return false;
    s->crate = obj_load("res/crate.obj", MODEL_SCALE);
    s->torus = obj_load("res/torus.obj", MODEL_SCALE);
    if (!s->crate || !s->torus) return false;
    s->solo = scene_new_root();
    s->solo_camera = scene_add_group(s->solo);
    s->solo_spin = scene_add_group(s->solo_camera);
    s->pair = scene_new_root();
    s->pair_camera = scene_add_group(s->pair);
    s->crate_spin = scene_add_group(s->pair_camera);
    s->torus_spin = scene_add_group(s->pair_camera);
    if (!s->solo_spin || !s->torus_spin || !scene_add_mesh(s->solo_spin, s->crate->list) ||
        !scene_add_mesh(s->crate_spin, s->crate->list) || !scene_add_mesh(s->torus_spin, s->torus->list))
        return false;
    for (SceneNode *n : {s->solo_camera, s->solo_spin, s->pair_camera, s->crate_spin, s->torus_spin})
        n->mode = SCENE_LOCAL_APPLIED;
    matrix_set_translation(&s->solo_camera->local, 0, 0, fixed_from_int(230));
    matrix_set_translation(&s->pair_camera->local, 0, 0, fixed_from_int(320));
    matrix_set_translation(&s->crate_spin->local, fixed_from_int(-80), 0, 0);
    matrix_set_translation(&s->torus_spin->local, fixed_from_int(80), 0, 0);
    for (int i = 0; i < BALLS; i++) {
        s->balls[i] = sprite_new_owned(SPRITE_PX, SPRITE_PX);
        if (!s->balls[i]) return false;
        paint_ball(s->balls[i], i * 6);
    }
    s->star = line_list_new(5, PALETTE_YELLOW);
    s->bars = rect_list_new(BARS);
    if (!s->star || !s->bars) return false;
    for (int i = 0; i < STARS; i++) {
        s->stars_x[i] = rand() % 400;
        s->stars_y[i] = rand() % 200;
        s->stars_speed[i] = 1 + rand() % 3;
    }
    particles_load_texture();  // the effect runs without it too
    s->scene = -1;
    return true;
}

static void show_free(Show *s) {
    text_group_clear(s->title);
    text_group_free(s->title);
    typewriter_free(s->typewriter);
    text_free(s->typed);
    text_free(s->hud);
    scene_node_destroy(s->solo);
    scene_node_destroy(s->pair);
    mesh_destroy(s->crate);
    mesh_destroy(s->torus);
    for (Sprite *ball : s->balls) sprite_free(ball);
    line_list_free(s->star);
    rect_list_free(s->bars);
    particles_free_texture();
    font_free(s->big);
    font_free(s->small);
}

// A scene with text starts typing it on its first row.
// Lays `lines` out as one text, each line but the last padded to the
// longest, the typed object centred at that width, and types it.
static void type_lines(Show *s, const char *const *lines) {
    size_t widest = 1;
    for (const char *const *line = lines; *line; line++) widest = std::max(widest, strlen(*line));
    size_t at = 0;
    for (const char *const *line = lines; *line && at + widest <= TYPED_CAPACITY; line++) {
        const size_t length = strlen(*line);
        memcpy(s->typed_text + at, *line, length);
        const bool last = line[1] == nullptr;
        if (!last) memset(s->typed_text + at + length, ' ', widest - length);
        at += last ? length : widest;
    }
    s->typed_text[at] = '\0';
    s->typed->wrap_width = static_cast<uint32_t>(widest * SMALL_GLYPH_PX);
    text_set_position(s->typed, static_cast<int32_t>((SCREEN_WIDTH_PX - widest * SMALL_GLYPH_PX) / 2), TYPED_TOP_PX);
    typewriter_set_text(s->typewriter, s->typed_text);
}

static void enter_scene(Show *s, int order) {
    const bool was_intro = s->scene == 0 || s->scene == 1;
    if (order <= 1 && !was_intro) type_lines(s, INTRO_LINES);
    if (order == SONG_POSITIONS - 1 && s->scene != order) type_lines(s, OUTRO_LINES);
    s->scene = order;
}

// Particles thrown out from the middle of the view.
static void burst(int count) {
    for (int i = 0; i < count; i++) {
        // One draw after the other, in a fixed order (a call's arguments are
        // evaluated in an order each compiler chooses): z, y, then x.
        const Fixed dz = rand() % 2001 - 1000;
        const Fixed dy = (rand() % 4001 - 2600) * 4;
        const Fixed dx = (rand() % 4001 - 2000) * 4;
        particle_spawn(0, 0, 6 * FIXED_ONE, dx, dy, dz);
    }
}

// Takes what the music has done up to the heard moment.
static void take_music_events(Show *s, bool *ended) {
    MusicEvent e;
    while (music_event_next(&e)) {
        if (e.kind == MUSIC_EVENT_END) *ended = true;
        if (e.kind == MUSIC_EVENT_ROW) {
            if (e.row == 0 || s->scene < 0) enter_scene(s, e.order);
            s->rows++;
        }
        if (e.kind != MUSIC_EVENT_NOTE) continue;
        // Bars: each of four channels lights its own four, by the note's
        // pitch; a song of more channels shares them out round the four.
        const int bar = e.channel % (BARS / 4) * 4 + (e.period / 64) % 4;
        s->bar_level[bar] = 20 + e.volume * 3 / 2;
        if (e.channel != DRUM_CHANNEL) continue;
        if (e.instrument == INSTRUMENT_KICK) s->flash = 5;
        if (e.instrument == INSTRUMENT_SNARE) {
            s->cut = (s->cut + 1) % 4;
            burst(24);
        }
        if (e.instrument == INSTRUMENT_HAT || e.instrument == INSTRUMENT_OPEN_HAT) s->ball_jump[(e.frame / 1000) % BALLS] = 14;
    }
}

static void draw_starfield(Show *s, int64_t ms) {
    for (int i = 0; i < STARS; i++) {
        const int x = static_cast<int>((s->stars_x[i] + 400 - (ms / 10) * s->stars_speed[i] % 400) % 400);
        put_pixel_color(x, s->stars_y[i], palette_grey(5 + s->stars_speed[i] * 3));
    }
}

static void draw_circles(int64_t ms, const MusicPosition &at) {
    // Rings that pulse with the row and turn with the song: one radian a
    // tick, at whatever tempo the song plays.
    const double into_tick = at.tick_frames > 0 ? static_cast<double>(at.tick_frame) / static_cast<double>(at.tick_frames) : 0.0;
    const double phase = into_tick + at.tick;
    for (int i = 0; i < 5; i++) {
        set_draw_color(palette_ring(PALETTE_RING_BRIGHT, i * 5 + at.row));
        draw_circle(200, 120, 30 + i * 18 + static_cast<int>(6 * sin(phase + i)), 60 + i * 30);
    }
    for (int i = 0; i < 12; i++) {
        const double a = ms * 0.0008 + i * M_PI / 6;
        draw_line(200 + static_cast<int>(40 * cos(a)), 120 + static_cast<int>(40 * sin(a)), 200 + static_cast<int>(118 * cos(a)),
                  120 + static_cast<int>(118 * sin(a)), palette_ring(PALETTE_RING_DIM, i * 2));
    }
}

// The models turn with the song's time; each snare cuts to another angle.
static void draw_models(Show *s, int64_t ms, bool both) {
    const Fixed turn = static_cast<Fixed>(ms % 4320 * FIXED_DEGREE / 12);  // a turn in 4.32 s
    const Fixed cut = s->cut * 90 * FIXED_DEGREE;
    SceneNode *root = both ? s->pair : s->solo;
    matrix_rotate_euler(&(both ? s->crate_spin : s->solo_spin)->local, turn + cut, turn / 2, 0);
    matrix_rotate_euler(&s->torus_spin->local, turn / 3, turn + cut / 2, 0);
    current_identity();
    scene_transform(root);
    scene_draw(root, 1);
}

static void draw_lists(Show *s, int64_t ms) {
    for (int i = 0; i < BARS; i++) {
        const int left = 8 + i * 24;
        rect_list_set(s->bars, i, left, 200, left + 18, 200 - 4 - s->bar_level[i]);
        if (s->bar_level[i] > 0) s->bar_level[i] -= 2;
    }
    set_draw_color(palette_ring(PALETTE_RING_BRIGHT, static_cast<int>(ms / 200 % PALETTE_RING_HUES)));
    rect_list_draw(s->bars, BARS);
    const double turn = ms * 0.002;
    for (int i = 0; i < 5; i++) {
        const double a0 = turn + i * 4 * M_PI / 5, a1 = turn + (i + 1) * 4 * M_PI / 5;
        line_list_set(s->star, i, 200 + static_cast<int>(50 * cos(a0)), 90 + static_cast<int>(50 * sin(a0)), 200 + static_cast<int>(50 * cos(a1)),
                      90 + static_cast<int>(50 * sin(a1)));
    }
    set_draw_color(PALETTE_YELLOW);
    line_list_draw(s->star, 5);
    for (int i = 0; i < BALLS; i++) {
        const int jump = s->ball_jump[i];
        sprite_set_position(s->balls[i], 60 + i * 90, 150 - jump * (28 - jump) / 6);
        sprite_draw(s->balls[i]);
        if (s->ball_jump[i] > 0) s->ball_jump[i]--;
    }
}

static void draw_hud(Show *s, const MusicPosition &at, bool music) {
    char line[96];
    const int64_t ms = at.song_ms;
    snprintf(line, sizeof line, "%s %02d ROW %02d  %lld:%02lld.%lld / %lld:%02lld", music ? "ORDER" : "SCENE", at.order,
             at.row, static_cast<long long>(ms / 60000), static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms / 100 % 10),
             static_cast<long long>(s->total_ms / 60000), static_cast<long long>(s->total_ms / 1000 % 60));
    text_clear(s->hud);
    text_append(s->hud, line);
    set_draw_color(palette_grey(10));
    text_draw(s->hud);
    // The beat: four squares, the row's quarter lit.
    for (int i = 0; i < 4; i++) {
        const uint8_t c = (at.row / 4) % 4 == i ? PALETTE_WHITE : palette_grey(4);
        for (int y = 224; y < 234; y++) draw_line(340 + i * 14, y, 350 + i * 14, y, c);
    }
}

static void draw_frame(Show *s, const MusicPosition &at, bool music) {
    const int64_t ms = at.song_ms;
    fb_clear();
    depth_clear();
    if (s->flash > 0) {
        // The kick: the whole screen lights up and fades over five frames.
        memset(fb_pixels, palette_grey(s->flash * 2), static_cast<size_t>(fb_width) * fb_height);
        s->flash--;
    }
    switch (s->scene < 0 ? 0 : s->scene) {
    case 0:
    case 1:  // intro: stars, rings, the title typed to the song's time
        draw_starfield(s, ms);
        draw_circles(ms, at);
        set_draw_color(PALETTE_WHITE);
        typewriter_update(s->typewriter, static_cast<int32_t>(ms));
        text_draw(s->typed);
        break;
    case 2:
    case 3:  // verse: the textured crate, cut round by the snare
        draw_starfield(s, ms);
        draw_models(s, ms, false);
        break;
    case 4:
    case 5:
    case 8:
    case 9:  // chorus: both models, particles, the jittering title
        draw_models(s, ms, true);
        particles_update();
        text_group_update(s->title);
        break;
    case 6:
    case 7:  // breakdown and build: bars, the star, jumping sprites
        draw_circles(ms, at);
        draw_lists(s, ms);
        break;
    default:  // outro: the credits typed to the song's time
        draw_starfield(s, ms);
        set_draw_color(s->rows % 2 ? PALETTE_LIGHT_CYAN : PALETTE_LIGHT_GREEN);
        typewriter_update(s->typewriter, static_cast<int32_t>(ms));
        text_draw(s->typed);
        break;
    }
    draw_hud(s, at, music);
}

static const FrameLoopSetup SETUP = {
    "showcase", "",
    "One pass of res/kevo.mod through the whole engine, the pictures driven by\n"
    "what is heard. Escape, closing the window or the song's end ends it; F or\n"
    "Alt-Enter toggles fullscreen; --frames N stops after N frames and --shot\n"
    "saves the last one as PNG. KEVO_MUSIC=path plays another module (MOD, XM,\n"
    "S3M) instead; KEVO_FROM=ORDER[:ROW] starts it mid-song.\n",
    nullptr, false, false, nullptr};

int main(int argc, char **argv) {
    FrameLoop loop;
    if (frame_loop_start(&loop, &SETUP, argc, argv) != 0) return loop.status;
    Show show;
    if (!show_init(&show)) {
        fprintf(stderr, "SHOWCASE: cannot start: a model, font or list could not be made\n");
        show_free(&show);
        return 1;
    }
    // The song once, not looped; without music the scenes follow the clock.
    const bool music = music_start_file(MUSIC_MODULE_PATH) == 0;
    if (music) {
        mod_player_set_loop(music_player, 0);
        show.total_ms = mod_song_length(music_player, 3600LL * AUDIO_RATE_HZ, nullptr) * 1000 / AUDIO_RATE_HZ;
    } else {
        show.total_ms = PATTERN_MS * SONG_POSITIONS;
    }
    frame_loop_open(&loop);
    const uint32_t start_ms = engine_ticks();
    audio_unpause();
    bool ended = false;
    while (frame_loop_next(&loop) && !ended) {
        MusicPosition at;
        if (music) {
            take_music_events(&show, &ended);
            if (ended) break;  // the song's end is heard: nothing more to show
            music_heard_position(&at);
        } else {
            const int64_t ms = engine_ticks() - start_ms;
            at = MusicPosition{static_cast<uint8_t>(ms / PATTERN_MS), static_cast<uint8_t>(ms % PATTERN_MS / 120), 0, 0, ms * 441 / 10, ms, 0};
            if (at.order != show.scene) enter_scene(&show, at.order);
            show.rows = static_cast<int32_t>(ms / 120);
            ended = at.order >= SONG_POSITIONS;
        }
        draw_frame(&show, at, music);
    }
    show_free(&show);
    return loop.status;
}
