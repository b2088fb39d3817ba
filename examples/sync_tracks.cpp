// Sync tracks: a demo whose cues are tracks, not constants. The camera's
// turn, tilt and distance, the colours and the scene cuts come from the
// tracks in res/sync_tracks_*.track (made by tools/make_sync_tracks, whose
// project res/sync_tracks.rocket opens in the sync editor), read at the
// music's played row: res/kevo.mod's rows, as heard.
//
//   sync_tracks [--frames N] [--shot out.png] [--scale k]
//   KEVO_SYNC=localhost ./build/sync_tracks     edit the tracks live in the editor
//
// Init: start the music, then the tracks (sync_rows_start follows the
// music that plays). Update: the row (sync_rows_update also takes the
// editor's keys, pauses and seeks), the tracks' values at it. Draw: the
// scene the "scene" track names. Shutdown: the tracks, the scene, the
// meshes.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "assets/obj.h"
#include "gfx2d/framebuffer.h"
#include "gfx2d/palette.h"
#include "gfx2d/primitives.h"
#include "platform/audio_output.h"
#include "platform/frame_loop.h"
#include "platform/music_start.h"
#include "platform/sync_rows.h"
#include "render3d/render3d.h"

static const char *const MODELS[] = {"res/crate.obj", "res/torus.obj"};
static const int MODEL_SCALE = 64;  // as scene_viewer loads them
constexpr int SCENES = 3;           // the crate, the torus, the rings
constexpr int RINGS = 9;
constexpr int32_t CENTRE_X = 200, CENTRE_Y = 120;
constexpr int32_t RING_SPACING_PX = 14;
constexpr int32_t RING_DOTS = 180;
constexpr int FRAME_INSET_PX = 4;

enum Track { SCENE, YAW, PITCH, DIST, HUE, FLASH, TRACKS };
static const char *const TRACK_NAMES[TRACKS] = {"scene", "cam:yaw", "cam:pitch", "cam:dist", "colour:hue",
                                                "colour:flash"};

static const FrameLoopSetup SETUP = {
    "sync_tracks", "",
    "Plays res/kevo.mod with the camera, colours and scene cuts of the sync\n"
    "tracks in res/sync_tracks_*.track. KEVO_SYNC=host[:port] edits them live\n"
    "in a sync editor. Escape or closing the window ends it; --frames N stops\n"
    "after N frames and --shot saves the last one as PNG.\n",
    nullptr, false, false, nullptr};

static int32_t whole(double value, int32_t low, int32_t high) {
    const double v = std::floor(value);
    return v < low ? low : v > high ? high : static_cast<int32_t>(v);
}

static Fixed degrees(double value) { return static_cast<Fixed>(std::fmod(value, 360.0) * FIXED_DEGREE); }

// Concentric dotted rings walking outwards with the row's fraction, each
// a step further round the hue ring.
static void draw_rings(double row, int hue) {
    const double fraction = row - std::floor(row);
    for (int i = 0; i < RINGS; i++) {
        set_draw_color(palette_ring(PALETTE_RING_BRIGHT, hue + i));
        const int32_t radius = static_cast<int32_t>((i + fraction) * RING_SPACING_PX) + 4;
        draw_circle(CENTRE_X, CENTRE_Y, radius, RING_DOTS);
    }
}

static void draw_frame_border(int hue) {
    const uint8_t color = palette_ring(PALETTE_RING_BRIGHT, hue);
    const int32_t l = FRAME_INSET_PX, t = FRAME_INSET_PX, r = 399 - FRAME_INSET_PX, b = 239 - FRAME_INSET_PX;
    draw_line(l, t, r, t, color);
    draw_line(r, t, r, b, color);
    draw_line(r, b, l, b, color);
    draw_line(l, b, l, t, color);
}

int main(int argc, char **argv) {
    FrameLoop loop;
    if (frame_loop_start(&loop, &SETUP, argc, argv) != 0) return loop.status;

    // A scene graph per model: root -> camera (distance) -> spin (turn, tilt) -> mesh.
    Mesh *meshes[2] = {nullptr, nullptr};
    SceneNode *roots[2] = {nullptr, nullptr};
    SceneNode *cameras[2] = {nullptr, nullptr};
    SceneNode *spins[2] = {nullptr, nullptr};
    for (int i = 0; i < 2; i++) {
        meshes[i] = obj_load(MODELS[i], MODEL_SCALE);
        roots[i] = scene_new_root();
        cameras[i] = scene_add_group(roots[i]);
        spins[i] = scene_add_group(cameras[i]);
        if (!meshes[i] || !spins[i] || !scene_add_mesh(spins[i], meshes[i]->list)) {
            std::fprintf(stderr, "SYNC_TRACKS: cannot show '%s'\n", MODELS[i]);
            for (int j = 0; j <= i; j++) {
                scene_node_destroy(roots[j]);
                mesh_destroy(meshes[j]);
            }
            return 1;
        }
        cameras[i]->mode = SCENE_LOCAL_APPLIED;
        spins[i]->mode = SCENE_LOCAL_APPLIED;
    }

    music_start_file(MUSIC_MODULE_PATH);  // one line and silence when it cannot
    SyncRows rows;
    sync_rows_start(&rows, "res/sync_tracks");
    const SyncTrack *tracks[TRACKS];
    for (int i = 0; i < TRACKS; i++) tracks[i] = sync_track(rows.device, TRACK_NAMES[i]);

    frame_loop_open(&loop);
    audio_unpause();
    while (frame_loop_next(&loop)) {
        const double row = sync_rows_update(&rows);
        double value[TRACKS];
        for (int i = 0; i < TRACKS; i++) value[i] = sync_value(tracks[i], row);
        const int scene = whole(value[SCENE], 0, SCENES - 1);
        const int hue = whole(value[HUE], 0, 1 << 20) % PALETTE_RING_HUES;

        fb_clear();
        memset(fb_pixels, palette_grey(whole(value[FLASH], 0, 15)), static_cast<size_t>(fb_width) * fb_height);
        if (scene < 2) {
            matrix_set_translation(&cameras[scene]->local, 0, 0, fixed_from_int(whole(value[DIST], 64, 4096)));
            matrix_rotate_euler(&spins[scene]->local, degrees(value[YAW]), degrees(value[PITCH]), 0);
            depth_clear();
            current_identity();
            scene_transform(roots[scene]);
            scene_draw(roots[scene], 1);
            draw_frame_border(hue);
        } else {
            draw_rings(row, hue);
        }
    }

    sync_rows_stop(&rows);
    music_stop();
    for (int i = 0; i < 2; i++) {
        scene_node_destroy(roots[i]);
        mesh_destroy(meshes[i]);
    }
    return loop.status;
}
