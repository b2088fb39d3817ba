// Loader speed: obj_load of a generated 10082-face textured grid (and one
// scene frame of it), and pcx_decode of 256 x 128 images (the committed brick wall, which packs
// well, and noise, which does not).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "assets/obj.h"
#include "assets/pcx.h"
#include "platform/framebuffer.h"
#include "render3d/raster.h"
#include "render3d/scene.h"
#include "util/alloc.h"

namespace {

// A scratch directory holding the generated model, removed at exit.
struct Scratch {
    std::string dir;
    std::string obj, noise_pcx;
    Scratch() {
        char name[] = "/tmp/engine_assets_bench_XXXXXX";
        if (mkdtemp(name) == nullptr) abort();
        dir = name;
        std::vector<uint8_t> pixels(256 * 128), palette(768, 0);
        uint32_t state = 1;
        for (uint8_t &p : pixels) {
            state = state * 1103515245u + 12345u;
            p = (uint8_t)(state >> 16);
        }
        noise_pcx = dir + "/noise.pcx";
        if (pcx_save(noise_pcx.c_str(), 256, 128, pixels.data(), palette.data()) < 0) abort();
        std::string mtl = dir + "/grid.mtl";
        write(mtl, "map_Kd " + noise_pcx + "\n");
        // 71 x 71 quads, two triangles each: 10082 faces.
        const int columns = 71, rows = 71;
        std::string text = "mtllib " + mtl + "\n";
        char line[96];
        for (int y = 0; y <= rows; y++) {
            for (int x = 0; x <= columns; x++) {
                snprintf(line, sizeof line, "v %d.%04d %d.%04d -%d.5\nvt 0.%03d 0.%03d\n", x, x * 37 % 10000, y,
                         y * 91 % 10000, (x + y) % 7, x * 13 % 1000, y * 7 % 1000);
                text += line;
            }
        }
        const int stride = columns + 1;
        for (int y = 0; y < rows; y++) {
            for (int x = 0; x < columns; x++) {
                int a = y * stride + x + 1, b = a + 1, c = a + stride, d = c + 1;
                snprintf(line, sizeof line, "f %d/%d %d/%d %d/%d\nf %d/%d %d/%d %d/%d\n", a, a, b, b, d, d, a, a,
                         d, d, c, c);
                text += line;
            }
        }
        obj = dir + "/grid.obj";
        write(obj, text);
    }
    ~Scratch() {
        std::string command = "rm -rf '" + dir + "'";
        if (system(command.c_str()) != 0) fprintf(stderr, "bench: could not remove %s\n", dir.c_str());
    }
    static void write(const std::string &path, const std::string &text) {
        FILE *file = fopen(path.c_str(), "wb");
        if (file == nullptr || fwrite(text.data(), 1, text.size(), file) != text.size()) abort();
        fclose(file);
    }
};

Scratch &scratch() {
    static Scratch instance;
    return instance;
}

// Points standard output at /dev/null while it lives (the loader prints the
// path and the material lines on every load).
struct QuietStdout {
    int saved;
    QuietStdout() {
        fflush(stdout);
        saved = dup(1);
        int null_fd = open("/dev/null", O_WRONLY);
        dup2(null_fd, 1);
        close(null_fd);
    }
    ~QuietStdout() {
        fflush(stdout);
        dup2(saved, 1);
        close(saved);
    }
};

void BM_ObjLoadGrid10082Faces(benchmark::State &state) {
    const std::string &path = scratch().obj;
    QuietStdout quiet;
    for (auto _ : state) {
        Mesh *mesh = obj_load(path.c_str(), 16);
        if (mesh == nullptr || mesh->list->count != 10082) abort();
        mesh_destroy(mesh);
    }
    state.SetItemsProcessed(state.iterations() * 10082);
}
BENCHMARK(BM_ObjLoadGrid10082Faces)->Unit(benchmark::kMillisecond);

// One scene frame of the loaded grid: clear, transform walk, sorted
// textured draw. The grid (1136 units square at scale 16, y flipped by the
// loader) stands centred 900 units in front of the eye, filling about
// 200 x 200 pixels.
void BM_SceneFrameGrid10082Faces(benchmark::State &state) {
    QuietStdout quiet;
    Mesh *mesh = obj_load(scratch().obj.c_str(), 16);
    if (mesh == nullptr) abort();
    fb_attach_storage();
    SceneNode *root = scene_new_root();
    SceneNode *node = scene_add_mesh(root, mesh->list);
    if (node == nullptr) abort();
    node->mode = SCENE_LOCAL_APPLIED;
    matrix_set_translation(&node->local, fixed_from_int(-568), fixed_from_int(568), fixed_from_int(900));
    for (auto _ : state) {
        fb_clear();
        depth_clear();
        current_identity();
        scene_transform(root);
        scene_draw(root, 1);
        frame_counter++;
    }
    state.SetItemsProcessed(state.iterations() * mesh->list->count);
    long covered_px = 0;
    for (int i = 0; i < fb_width * fb_height; i++) covered_px += fb_pixels[i] != 0;
    state.counters["covered_px"] = (double)covered_px;
    scene_node_destroy(root);
    mesh_destroy(mesh);
}
BENCHMARK(BM_SceneFrameGrid10082Faces)->Unit(benchmark::kMicrosecond);

// pcx_decode alone: the open and close around it are not timed.
void decode_only(benchmark::State &state, const std::string &path) {
    for (auto _ : state) {
        state.PauseTiming();
        PcxImage *image = pcx_open(path.c_str());
        if (image == nullptr) abort();
        state.ResumeTiming();
        int result = pcx_decode(image);
        state.PauseTiming();
        if (result != 0) abort();
        pcx_close(image);
        engine_free(image->pixels);
        pcx_free(image);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * 256 * 128);
}

void BM_PcxDecodeTunnel256x128(benchmark::State &state) {
    decode_only(state, std::string(ENGINE_SOURCE_DIR) + "/res/tunnel.pcx");
}
BENCHMARK(BM_PcxDecodeTunnel256x128)->Unit(benchmark::kMicrosecond);

void BM_PcxDecodeNoise256x128(benchmark::State &state) { decode_only(state, scratch().noise_pcx); }
BENCHMARK(BM_PcxDecodeNoise256x128)->Unit(benchmark::kMicrosecond);

// The whole load a material does: open, decode, close, move into a Texture.
void BM_PcxLoadTextureTunnel256x128(benchmark::State &state) {
    std::string path = std::string(ENGINE_SOURCE_DIR) + "/res/tunnel.pcx";
    for (auto _ : state) {
        Texture *texture = pcx_load_texture(path.c_str());
        if (texture == nullptr) abort();
        texture_destroy(texture);
    }
}
BENCHMARK(BM_PcxLoadTextureTunnel256x128)->Unit(benchmark::kMicrosecond);

}  // namespace
