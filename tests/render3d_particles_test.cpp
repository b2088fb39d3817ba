// The particle effect: spawning into slots, the motion figures, corner
// offsets, the 180-frame life, the image load with and without the file.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <unistd.h>

#include "assets/pcx.h"
#include "gfx2d/framebuffer.h"
#include "platform/particles_run.h"
#include "render3d/render3d.h"
#include "support/render3d_fixtures.h"
#include "support/test_files.h"

static const Fixed ONE = FIXED_ONE;

static void clear_slots(void) { std::memset(particles, 0, sizeof particles); }

TEST(Render3dParticles, SpawnIntoSlots) {
    clear_slots();
    particle_spawn(1, 2, 3, 4, 5, 6);
    const Particle &p = particles[0];
    EXPECT_EQ(p.x, 1);
    EXPECT_EQ(p.z, 3);
    EXPECT_EQ(p.dx, 4);
    EXPECT_EQ(p.dz, 6);
    EXPECT_EQ(p.life, 180);
    for (int k = 0; k < 3; k++) {
        EXPECT_GE(p.spin[k], 0);
        EXPECT_LE(p.spin[k], 127);
        EXPECT_EQ(p.angle[k], 0);
    }
    // The lowest free slot is taken; a reused slot keeps its angles.
    particles[1].life = 5;
    particles[2].angle[1] = 999;
    particle_spawn(7, 7, 7, 0, 0, 0);
    EXPECT_EQ(particles[2].x, 7);
    EXPECT_EQ(particles[2].angle[1], 999);
    // With all 200 busy nothing changes.
    for (int i = 0; i < PARTICLE_SLOTS; i++)
        if (particles[i].life == 0) particle_spawn(9, 9, 9, 0, 0, 0);
    Particle before[PARTICLE_SLOTS];
    std::memcpy(before, particles, sizeof before);
    particle_spawn(100, 100, 100, 1, 1, 1);
    EXPECT_EQ(std::memcmp(before, particles, sizeof before), 0);
    clear_slots();
}

TEST(Render3dParticles, MotionAndCornerFigures) {
    clear_slots();
    render3d_fresh_frame();
    particle_spawn(0, 0, 10 * ONE, 0, 0, 0);
    particles_update();
    EXPECT_EQ(particles[0].y, 0);
    EXPECT_EQ(particles[0].dy, 256);
    EXPECT_EQ(particles[0].life, 179);
    particles_update();
    EXPECT_EQ(particles[0].y, 256);
    EXPECT_EQ(particles[0].dy, 512);
    particles[0].dx = ONE;
    int32_t spin0 = particles[0].spin[0];
    particles_update();
    EXPECT_EQ(particles[0].x, ONE);
    EXPECT_EQ(particles[0].y, 768);
    EXPECT_EQ(particles[0].angle[0], 3 * spin0);

    EXPECT_EQ(particle_corner_offset(0), 0);
    EXPECT_EQ(particle_corner_offset(720), 12287);
    EXPECT_EQ(particle_corner_offset(2160), -12288);
    for (int32_t a = -3000; a < 3000; a++) {
        ASSERT_GE(particle_corner_offset(a), -12288);
        ASSERT_LE(particle_corner_offset(a), 12287);
    }
    clear_slots();
}

// A particle whose corners stand out 0.1875 along X and Y, fixed in shape.
static void spawn_still_particle(void) {
    particle_spawn(0, 0, 2 * ONE, 0, 0, 0);
    particles[0].spin[0] = particles[0].spin[1] = particles[0].spin[2] = 0;
    particles[0].angle[0] = particles[0].angle[1] = 720;
    particles[0].angle[2] = 0;
}

TEST(Render3dParticles, LivesFor179DrawnFrames) {
    clear_slots();
    spawn_still_particle();
    int drawn_frames = 0;
    for (int frame = 0; frame < 200; frame++) {
        render3d_fresh_frame();
        particles[0].dy = 0;  // keep it in place: only its life counts here
        particles_update();
        int n = count_pixels(PARTICLE_COLOR);
        if (n > 0) drawn_frames++;
        EXPECT_EQ(n + count_pixels(0), 96000);
        if (frame == 0) {
            // Corners (200, 120), (228, 120) after 150 x 0.1875 / 2 = 14.06,
            // and (200, 134): 14 rows of 14 .. 1 pixels.
            EXPECT_EQ(n, 14 * 15 / 2);
            EXPECT_EQ(fb_pixels[120 * 400 + 200], PARTICLE_COLOR);
            EXPECT_EQ(depth_buffer[120 * 400 + 200], 2);
        }
    }
    EXPECT_EQ(drawn_frames, 179);
    EXPECT_EQ(particles[0].life, 0);
    clear_slots();
}

TEST(Render3dParticles, ImageLoadAndFlatDrawing) {
    std::string dir = make_temp_dir("render3d_particles");
    ASSERT_FALSE(dir.empty());
    char old_cwd[4096];
    ASSERT_NE(getcwd(old_cwd, sizeof old_cwd), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);

    // Without the image: -1, no texture, and the effect still draws.
    tunnel_texture = nullptr;
    testing::internal::CaptureStderr();
    EXPECT_EQ(particles_load_texture(), -1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("PARTICLES: cannot load 'res/tunnel.pcx'", 0), 0u) << err;
    EXPECT_EQ(tunnel_texture, nullptr);
    clear_slots();
    spawn_still_particle();
    render3d_fresh_frame();
    particles_update();
    EXPECT_EQ(count_pixels(PARTICLE_COLOR), 105);

    // With an image: the texture has its size, and triangles stay flat in
    // index 113 (the image's own indices never appear).
    ASSERT_EQ(mkdir("res", 0755), 0);
    uint8_t image[16 * 8];
    std::memset(image, 7, sizeof image);
    uint8_t palette[768] = {};
    ASSERT_EQ(pcx_save("res/tunnel.pcx", 16, 8, image, palette), 0);
    EXPECT_EQ(particles_load_texture(), 0);
    ASSERT_NE(tunnel_texture, nullptr);
    EXPECT_EQ(tunnel_texture->width, 16);
    EXPECT_EQ(tunnel_texture->height, 8);
    EXPECT_EQ(particles_load_texture(), 0);  // a second load replaces the first
    clear_slots();
    spawn_still_particle();
    render3d_fresh_frame();
    particles_update();
    EXPECT_EQ(count_pixels(PARTICLE_COLOR), 105);
    EXPECT_EQ(count_pixels(7), 0);
    particles_free_texture();
    EXPECT_EQ(tunnel_texture, nullptr);

    unlink("res/tunnel.pcx");
    rmdir("res");
    ASSERT_EQ(chdir(old_cwd), 0);
    rmdir(dir.c_str());
    clear_slots();
}
