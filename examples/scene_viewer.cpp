// Scene viewer: loads an OBJ model (the sample model unless a path is
// given), hangs it in a small scene graph under a camera node and spins it,
// solid and textured against the depth buffer. W or Space switches to the
// wireframe and back; Escape, closing the window or SIGINT, SIGQUIT, SIGHUP,
// SIGTERM end it with everything released.
//
//   scene_viewer [model.obj] [--wireframe] [--frames N] [--shot out.png] [--scale k]
//
// Init: load the mesh, build root -> camera (translation) -> spin (rotation)
// -> mesh. Update: the spin node's euler angles from the frame number.
// Draw: clear, scene_transform, scene_draw. Shutdown: destroy nodes, mesh.
#include <cstdio>
#include <cstdlib>

#include "assets/obj.h"
#include "gfx2d/framebuffer.h"
#include "platform/frame_loop.h"
#include "render3d/render3d.h"

static const char *const DEFAULT_MODEL_PATH = "res/crate.obj";
// OBJ coordinates are multiplied by this on loading: the transform uses the
// integer parts of model coordinates only, so unit-sized models need it.
static const int MODEL_SCALE = 64;
// Per-frame spin: 2 degrees about Y, 1 degree about X.
static const Fixed SPIN_Y_PER_FRAME = 2 * FIXED_DEGREE;
static const Fixed SPIN_X_PER_FRAME = 1 * FIXED_DEGREE;

static bool show_wireframe = false;

static void on_key(SDLKey key) {
    if (key == SDLK_w || key == SDLK_SPACE) show_wireframe = !show_wireframe;
}

static const FrameLoopSetup SETUP = {
    "scene_viewer", "[model.obj] [--wireframe]",
    "Spins an OBJ model (res/crate.obj unless given), solid and textured. W or Space\n"
    "switches to the wireframe and back; Escape or closing the window ends it;\n"
    "--frames N stops after N frames and --shot saves the last one as PNG.\n",
    "--wireframe", true, false, on_key};

// Model coordinates beyond this many whole units are clamped when fitting
// the camera, so that its distance stays well inside Fixed.
static const int64_t FIT_LIMIT_UNITS = 8192;
// Screen half height the turning model should stay within, in pixels, and
// the projection's focal factor.
static const int64_t FIT_HALF_HEIGHT_PX = 110;
static const int64_t FIT_FOCAL_PX = 150;

// Largest whole n with n * n <= value (value >= 0).
static int64_t integer_sqrt(int64_t value) {
    int64_t root = 0;
    for (int64_t bit = static_cast<int64_t>(1) << 31; bit > 0; bit >>= 1)
        if ((root + bit) * (root + bit) <= value) root += bit;
    return root;
}

// Radius of the sphere about the model's origin that holds every vertex,
// in whole units (at least 1): the model's reach however it is turned.
static int64_t model_radius(const Mesh *mesh) {
    int64_t radius_squared = 1;
    for (uint64_t i = 0; i < mesh->vertices->count; i++) {
        const Vertex *v = static_cast<const Vertex *>(mesh->vertices->items[i]);
        const Fixed coords[3] = {v->x, v->y, v->z};
        int64_t sum = 0;
        for (Fixed c : coords) {
            int64_t whole = fixed_int(c);
            if (whole > FIT_LIMIT_UNITS) whole = FIT_LIMIT_UNITS;
            if (whole < -FIT_LIMIT_UNITS) whole = -FIT_LIMIT_UNITS;
            sum += whole * whole;
        }
        if (sum > radius_squared) radius_squared = sum;
    }
    return integer_sqrt(radius_squared) + 1;
}

int main(int argc, char **argv) {
    FrameLoop loop;
    if (frame_loop_start(&loop, &SETUP, argc, argv) != 0) return loop.status;
    show_wireframe = loop.flag_given;
    const char *path = loop.file != nullptr ? loop.file : DEFAULT_MODEL_PATH;

    Mesh *mesh = obj_load(path, MODEL_SCALE);
    if (mesh == nullptr) {
        std::fprintf(stderr, "VIEWER: cannot load model '%s'\n", path);
        return 1;
    }
    if (mesh->list->count == 0) {
        std::fprintf(stderr, "VIEWER: model '%s' has no faces to show\n", path);
        mesh_destroy(mesh);
        return 1;
    }
    SceneNode *root = scene_new_root();
    SceneNode *camera = scene_add_group(root);
    SceneNode *spin = scene_add_group(camera);
    if (spin == nullptr || scene_add_mesh(spin, mesh->list) == nullptr) {
        std::fprintf(stderr, "VIEWER: out of memory building the scene\n");
        scene_node_destroy(root);
        mesh_destroy(mesh);
        return 1;
    }
    // Far enough that the model's sphere, at its nearest point, projects
    // within the half height: 150 r / (d - r) <= 110.
    int64_t radius = model_radius(mesh);
    int64_t distance = radius + (FIT_FOCAL_PX * radius + FIT_HALF_HEIGHT_PX - 1) / FIT_HALF_HEIGHT_PX;
    camera->mode = SCENE_LOCAL_APPLIED;
    matrix_set_translation(&camera->local, 0, 0, fixed_from_int(static_cast<int32_t>(distance)));
    spin->mode = SCENE_LOCAL_APPLIED;

    frame_loop_open(&loop);
    while (frame_loop_next(&loop)) {
        matrix_rotate_euler(&spin->local, static_cast<Fixed>(loop.drawn * SPIN_Y_PER_FRAME),
                            static_cast<Fixed>(loop.drawn * SPIN_X_PER_FRAME), 0);
        fb_clear();
        depth_clear();
        current_identity();
        scene_transform(root);
        scene_draw(root, show_wireframe ? 0 : 1);
    }

    scene_node_destroy(root);
    mesh_destroy(mesh);
    return loop.status;
}
