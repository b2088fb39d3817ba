// The particle effect's image and its frame loop: the parts of the effect
// (render3d/particles.h) that need the PCX loader and the window, so that
// the renderer links neither assets nor SDL.
#ifndef PLATFORM_PARTICLES_RUN_H
#define PLATFORM_PARTICLES_RUN_H

#include "render3d/particles.h"

// Loads "res/tunnel.pcx" into tunnel_texture (releasing one loaded
// before). 0 on success; -1 with one "PARTICLES: ..." line on standard
// error when the image cannot be opened or decoded: tunnel_texture is then
// null and the effect still runs (its triangles never sample the image).
int particles_load_texture(void);

// Releases tunnel_texture and sets it to null. Safe when nothing is loaded.
void particles_free_texture(void);

// The effect's frame loop: fb_clear, depth_clear, particles_update,
// fb_present, frame_counter += 1, for ever. Needs video_init; never returns
// (the process ends through the signal handlers).
void particles_run(void);

#endif
