// The demo's scene: a thick sine wave of plus-shaped dots, a dotted circle
// with a line along its right radius, and two more dotted circles.
#ifndef DEMO_DEMO_SCENE_H
#define DEMO_DEMO_SCENE_H

// Clears the framebuffer and draws one frame of the scene, animated by
// frame_counter. Leaves draw_color at PALETTE_ORANGE (6). Does not present.
void demo_draw_frame(void);

#endif
