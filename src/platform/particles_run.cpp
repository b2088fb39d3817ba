// The particle effect's image and its frame loop: the parts of the effect
// that need the PCX loader and the window, kept out of the renderer so that
// render3d links neither assets nor SDL.
#include <cstdio>
#include <cstdlib>

#include "assets/image.h"       // image_load_texture
#include "assets/pcx.h"         // texture_destroy
#include "gfx2d/framebuffer.h"  // fb_clear, frame_counter
#include "platform/particles_run.h"
#include "platform/video.h"     // fb_present
#include "render3d/raster.h"    // depth_clear

int particles_load_texture(void) {
    particles_free_texture();
    // Open, decode and close the image, then keep its pixels as a Texture.
    ImageWhy why;
    tunnel_texture = image_load_texture_why(PARTICLE_TEXTURE_PATH, nullptr, &why);
    if (tunnel_texture == nullptr) {
        std::fprintf(stderr, "PARTICLES: cannot load '%s': %s; particles are drawn without it\n",
                     PARTICLE_TEXTURE_PATH, why.text);
        return -1;
    }
    return 0;
}

void particles_free_texture(void) {
    texture_destroy(tunnel_texture);
    tunnel_texture = nullptr;
}

void particles_run(void) {
    for (;;) {
        fb_clear();
        depth_clear();
        particles_update();
        fb_present();
        frame_counter += 1;
        // A stop signal, or a capture that has made its last frame.
        if (exit_requested()) exit(0);
    }
}
