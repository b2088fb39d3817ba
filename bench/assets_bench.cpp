// Loader speed: obj_load of a generated 10082-face textured grid (and one
// scene frame of it); obj_load of a generated model of about 26 MB beside
// reading the same file line by line, the floor any loader stands on, with
// the load's peak heap per MB of file (a counting allocator); and pcx_decode of 256 x 128 images
// (the committed brick wall, which packs well, and noise, which does not);
// a small PNG read alone and with a MiB of data past its rows;
// the nearest-colour table's build, and a 2048 x 2048 picture mapped to
// the palette plain and diffused, beside ImageMagick's -remap doing both.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <malloc.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "assets/image.h"
#include "assets/obj.h"
#include "assets/pcx.h"
#include "gfx2d/framebuffer.h"
#include "gfx2d/palette.h"
#include "gfx2d/palette_map.h"
#include "render3d/raster.h"
#include "render3d/scene.h"
#include "support/assets_disk.h"
#include "support/assets_png_builder.h"
#include "support/test_files.h"
#include "util/alloc.h"

namespace {

// A scratch directory (under $TMPDIR) holding the generated model, removed
// at exit.
struct Scratch {
    std::string dir = make_temp_dir("assets_bench");
    std::string obj, noise_pcx;
    Scratch() {
        if (dir.empty()) abort();
        std::vector<uint8_t> pixels(256 * 128), palette(768, 0);
        uint32_t state = 1;
        for (uint8_t &p : pixels) {
            state = state * 1103515245u + 12345u;
            p = static_cast<uint8_t>(state >> 16);
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
    ~Scratch() { remove_tree(dir); }
    static void write(const std::string &path, const std::string &text) {
        if (!assets_write_text(path, text)) abort();
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
    state.counters["covered_px"] = static_cast<double>(covered_px);
    scene_node_destroy(root);
    mesh_destroy(mesh);
}
BENCHMARK(BM_SceneFrameGrid10082Faces)->Unit(benchmark::kMicrosecond);

// A large textured model as exporters write them: a 480 x 480 vertex
// height field with six-decimal coordinates, a texture coordinate per
// vertex, and its 229441 cells as quads whose corners name both indices
// (458882 triangles), over a 256 x 256 material image. About 26 MB.
struct LargeModel {
    std::string obj;
    long bytes = 0;
    LargeModel() {
        const std::string &dir = scratch().dir;
        std::vector<uint8_t> pixels(256 * 256), palette(768, 0);
        for (size_t i = 0; i < pixels.size(); i++) pixels[i] = static_cast<uint8_t>(i * 7 + i / 256);
        std::string pcx = dir + "/large.pcx", mtl = dir + "/large.mtl";
        if (pcx_save(pcx.c_str(), 256, 256, pixels.data(), palette.data()) < 0) abort();
        Scratch::write(mtl, "newmtl ground\nKd 1 1 1\nmap_Kd " + pcx + "\n");
        const int side = 480;
        std::string text = "# generated height field\nmtllib " + mtl + "\no ground\n";
        char line[128];
        uint32_t state = 7;
        for (int y = 0; y < side; y++) {
            for (int x = 0; x < side; x++) {
                state = state * 1103515245u + 12345u;
                snprintf(line, sizeof line, "v %d.%06d %d.%06d -%u.%06u\n", x - side / 2, (x * 7919) % 1000000,
                         y - side / 2, (y * 104729) % 1000000, (state >> 16) % 8, (state >> 8) % 1000000);
                text += line;
            }
        }
        for (int y = 0; y < side; y++) {
            for (int x = 0; x < side; x++) {
                snprintf(line, sizeof line, "vt %.6f %.6f\n", x / static_cast<double>(side - 1), y / static_cast<double>(side - 1));
                text += line;
            }
        }
        text += "usemtl ground\n";
        for (int y = 0; y + 1 < side; y++) {
            for (int x = 0; x + 1 < side; x++) {
                int a = y * side + x + 1, b = a + 1, c = a + side, d = c + 1;
                snprintf(line, sizeof line, "f %d/%d %d/%d %d/%d %d/%d\n", a, a, b, b, d, d, c, c);
                text += line;
            }
        }
        obj = dir + "/large.obj";
        Scratch::write(obj, text);
        bytes = static_cast<long>(text.size());
    }
};

const LargeModel &large_model() {
    static LargeModel instance;
    return instance;
}
constexpr int LARGE_MODEL_TRIANGLES = 2 * 479 * 479;

// Peak heap of one load, in bytes: every malloc, calloc, realloc and free
// of this program goes through the counters below (the C library's own
// entry points do the work), which count the blocks' usable sizes plus the
// word of bookkeeping the C library keeps with each, while `heap_counting`
// is set.
bool heap_counting = false;
long heap_now = 0, heap_peak = 0;

long held_bytes(void *block) { return block == nullptr ? 0 : static_cast<long>(malloc_usable_size(block) + sizeof(size_t)); }

void heap_count(long change) {
    if (!heap_counting) return;
    heap_now += change;
    if (heap_now > heap_peak) heap_peak = heap_now;
}

long load_peak_bytes(const std::string &path) {
    heap_now = heap_peak = 0;
    heap_counting = true;
    Mesh *mesh = obj_load(path.c_str(), 16);
    heap_counting = false;
    if (mesh == nullptr) abort();
    mesh_destroy(mesh);
    return heap_peak;
}

void BM_ObjLoadLargeModel(benchmark::State &state) {
    const LargeModel &model = large_model();
    QuietStdout quiet;
    long peak = load_peak_bytes(model.obj);
    for (auto _ : state) {
        Mesh *mesh = obj_load(model.obj.c_str(), 16);
        if (mesh == nullptr || mesh->list->count != LARGE_MODEL_TRIANGLES) abort();
        mesh_destroy(mesh);
    }
    state.SetBytesProcessed(state.iterations() * model.bytes);
    state.counters["file_MB"] = model.bytes / 1e6;
    state.counters["peak_MB_per_file_MB"] = static_cast<double>(peak) / static_cast<double>(model.bytes);
}
BENCHMARK(BM_ObjLoadLargeModel)->Unit(benchmark::kMillisecond)->UseRealTime();

// The reference: the same file read through a 64 KiB buffer, counting its
// lines, as fast as a loader could possibly go over it.
void BM_ReadLinesOfLargeModel(benchmark::State &state) {
    const LargeModel &model = large_model();
    std::vector<char> buffer(65536);
    for (auto _ : state) {
        int fd = open(model.obj.c_str(), O_RDONLY);
        if (fd < 0) abort();
        long lines = 0;
        ssize_t got;
        while ((got = read(fd, buffer.data(), buffer.size())) > 0)
            for (const char *p = buffer.data(); (p = static_cast<const char *>(memchr(p, '\n', buffer.data() + got - p))); p++)
                lines++;
        close(fd);
        benchmark::DoNotOptimize(lines);
    }
    state.SetBytesProcessed(state.iterations() * model.bytes);
}
BENCHMARK(BM_ReadLinesOfLargeModel)->Unit(benchmark::kMillisecond)->UseRealTime();

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

// A 16 x 16 PNG read as it is, and with 1 MiB of compressed data after its
// rows that inflates to about 159 MiB: the reader stops at the last row,
// so the second costs what reading the MiB past costs (its chunk's CRC),
// not its inflation. The ratio of the two is that cost.
void read_png(benchmark::State &state, size_t extra_bytes) {
    PngSpec spec;
    spec.width = spec.height = 16;
    for (int i = 0; i < 256; i++) spec.samples.push_back(static_cast<uint16_t>(i));
    const std::string path = scratch().dir + "/read.png";
    const std::vector<uint8_t> bytes = extra_bytes ? png_with_trailing_data(spec, extra_bytes) : png_build(spec);
    if (!write_whole_file(path, bytes)) abort();
    for (auto _ : state) {
        ImagePixels *image = image_read_png(path.c_str(), nullptr);
        if (image == nullptr) abort();
        image_pixels_free(image);
    }
}
void BM_PngRead16x16(benchmark::State &state) { read_png(state, 0); }
BENCHMARK(BM_PngRead16x16)->Unit(benchmark::kMicrosecond);
void BM_PngRead16x16WithAMiBPastItsRows(benchmark::State &state) { read_png(state, 1 << 20); }
BENCHMARK(BM_PngRead16x16WithAMiBPastItsRows)->Unit(benchmark::kMicrosecond);

// The nearest-colour table, as palette_map_shared builds it once per
// process: 262144 cells, each searched exactly.
void BM_PaletteMapBuild(benchmark::State &state) {
    static PaletteMap map;
    for (auto _ : state) {
        palette_map_build(&map, static_cast<PaletteMetric>(state.range(0)));
        benchmark::DoNotOptimize(map.nearest[12345]);
    }
}
BENCHMARK(BM_PaletteMapBuild)->Arg(PALETTE_METRIC_OKLAB)->Arg(PALETTE_METRIC_CIELAB)->Arg(PALETTE_METRIC_RGB)
    ->Unit(benchmark::kMillisecond);

// A 2048 x 2048 RGB picture of smooth gradients and noise, mapped to the
// engine's palette without and with error diffusion; and ImageMagick's
// convert doing the same (-remap onto the engine's palette, -dither None
// or FloydSteinberg) on the same picture in this run, whole program,
// reading and writing PPM. The ratios of the two are the speed-ups.
constexpr int MAP_SIDE = 2048;

const std::vector<uint8_t> &map_picture() {
    static std::vector<uint8_t> rgb = [] {
        std::vector<uint8_t> out(static_cast<size_t>(MAP_SIDE) * MAP_SIDE * 3);
        uint32_t state = 3;
        for (int y = 0; y < MAP_SIDE; y++)
            for (int x = 0; x < MAP_SIDE; x++) {
                state = state * 1103515245u + 12345u;
                uint8_t *p = &out[(static_cast<size_t>(y) * MAP_SIDE + x) * 3];
                p[0] = static_cast<uint8_t>(x / 8 + (state >> 28));
                p[1] = static_cast<uint8_t>(y / 8);
                p[2] = static_cast<uint8_t>((x + y) / 16 + (state >> 29));
            }
        return out;
    }();
    return rgb;
}

void map_2048(benchmark::State &state, PaletteDither dither) {
    const std::vector<uint8_t> &rgb = map_picture();
    std::vector<uint8_t> out(static_cast<size_t>(MAP_SIDE) * MAP_SIDE);
    const PaletteMap *map = palette_map_shared();
    for (auto _ : state)
        if (palette_map_pixels(map, rgb.data(), nullptr, MAP_SIDE, MAP_SIDE, dither, out.data()) < 0) abort();
    state.SetItemsProcessed(state.iterations() * MAP_SIDE * MAP_SIDE);
}

void BM_MapRgb2048Plain(benchmark::State &state) { map_2048(state, PALETTE_DITHER_NONE); }
BENCHMARK(BM_MapRgb2048Plain)->Unit(benchmark::kMillisecond);
void BM_MapRgb2048Diffusion(benchmark::State &state) { map_2048(state, PALETTE_DITHER_DIFFUSION); }
BENCHMARK(BM_MapRgb2048Diffusion)->Unit(benchmark::kMillisecond);

void imagemagick_2048(benchmark::State &state, const char *dither) {
    const std::string dir = scratch().dir, in = dir + "/map.ppm", palette = dir + "/palette.ppm";
    static bool written = false;
    if (!written) {
        FILE *file = fopen(in.c_str(), "wb");
        fprintf(file, "P6 %d %d 255\n", MAP_SIDE, MAP_SIDE);
        fwrite(map_picture().data(), 1, map_picture().size(), file);
        fclose(file);
        file = fopen(palette.c_str(), "wb");
        fprintf(file, "P6 256 1 255\n");
        for (uint32_t color : Palette)
            for (int shift : {24, 16, 8}) fputc(static_cast<int>((color >> shift) & 0xFF), file);
        fclose(file);
        written = true;
    }
    const std::string command = "convert '" + in + "' -dither " + dither + " -remap '" + palette + "' '" + dir +
                                "/out.ppm' 2>/dev/null";
    for (auto _ : state)
        if (system(command.c_str()) != 0) {
            state.SkipWithError("convert (imagemagick) failed or is missing");
            break;
        }
}

void BM_ImageMagickRemap2048None(benchmark::State &state) { imagemagick_2048(state, "None"); }
BENCHMARK(BM_ImageMagickRemap2048None)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
void BM_ImageMagickRemap2048FloydSteinberg(benchmark::State &state) { imagemagick_2048(state, "FloydSteinberg"); }
BENCHMARK(BM_ImageMagickRemap2048FloydSteinberg)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

extern "C" {
void *__libc_malloc(size_t size_bytes);
void *__libc_calloc(size_t count, size_t size_bytes);
void *__libc_realloc(void *block, size_t size_bytes);
void __libc_free(void *block);

void *malloc(size_t size_bytes) {
    void *block = __libc_malloc(size_bytes);
    heap_count(held_bytes(block));
    return block;
}

void *calloc(size_t count, size_t size_bytes) {
    void *block = __libc_calloc(count, size_bytes);
    heap_count(held_bytes(block));
    return block;
}

void *realloc(void *block, size_t size_bytes) {
    long before = held_bytes(block);
    void *moved = __libc_realloc(block, size_bytes);
    // A failed growth leaves the old block; a size of 0 frees it.
    if (moved != nullptr || size_bytes == 0) heap_count(held_bytes(moved) - before);
    return moved;
}

void free(void *block) {
    heap_count(-held_bytes(block));
    __libc_free(block);
}
}
