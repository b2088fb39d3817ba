// Particle fountain: spawns a particle every frame from a point low in the
// view and lets the particle effect throw them up and pull them down, each
// living 180 frames. Escape, closing the window or SIGINT, SIGQUIT, SIGHUP,
// SIGTERM end it with the image released.
//
//   particle_fountain [--frames N] [--shot out.png] [--scale k]
//
// Init: load "res/tunnel.pcx" (the effect runs without it too). Update and
// draw: spawn, particles_update. Shutdown: release the image.
#include <cstdlib>  // rand: the engine's only source of randomness

#include "gfx2d/framebuffer.h"
#include "platform/frame_loop.h"
#include "platform/particles_run.h"
#include "render3d/render3d.h"

// The nozzle: 2.0 below the centre line (rows grow downwards), 5.0 deep.
static const Fixed NOZZLE_X = 0;
static const Fixed NOZZLE_Y = 2 * FIXED_ONE;
static const Fixed NOZZLE_Z = 5 * FIXED_ONE;
// Launch speed upwards 0.14 .. 0.17 units per frame, with a sideways and a
// depth spread of +-0.03: the pull of 1/256 unit per frame turns them round
// after about 40 frames.
static const Fixed LAUNCH_UP = 9175;      // 0.14
static const int32_t LAUNCH_UP_SPREAD = 1966;   // 0.03
static const int32_t LAUNCH_SIDE_SPREAD = 1966; // 0.03, either way

// A random integer in -spread .. spread.
static Fixed spread(int32_t range) { return static_cast<Fixed>(rand() % (2 * range + 1)) - range; }

static const FrameLoopSetup SETUP = {
    "particle_fountain", "",
    "A fountain of particles. Escape or closing the window ends it; --frames N\n"
    "stops after N frames and --shot saves the last one as PNG.\n",
    nullptr, false, false, nullptr};

int main(int argc, char **argv) {
    FrameLoop loop;
    if (frame_loop_start(&loop, &SETUP, argc, argv) != 0) return loop.status;
    particles_load_texture();  // on failure it says so; the effect runs anyway

    frame_loop_open(&loop);
    while (frame_loop_next(&loop)) {
        Fixed up = LAUNCH_UP + static_cast<Fixed>(rand() % (LAUNCH_UP_SPREAD + 1));
        // One draw after the other, in a fixed order (the arguments of a
        // call are evaluated in an order each compiler chooses): z, then x.
        const Fixed side_z = spread(LAUNCH_SIDE_SPREAD);
        const Fixed side_x = spread(LAUNCH_SIDE_SPREAD);
        particle_spawn(NOZZLE_X, NOZZLE_Y, NOZZLE_Z, side_x, -up, side_z);
        fb_clear();
        depth_clear();
        particles_update();
    }

    particles_free_texture();
    return loop.status;
}
