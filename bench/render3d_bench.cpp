// Speed of the 3D path: flat and textured fill rate on large triangles, a
// 5000-triangle mesh frame, vertex transform rate, and fb_clear plus
// depth_clear as the memory-bandwidth floor the fills compare against.
#include <benchmark/benchmark.h>

#include <vector>

#include "gfx2d/framebuffer.h"
#include "render3d/render3d.h"

namespace {

// A screen-space triangle with its own corners.
struct BenchTriangle {
    Vertex v[3];
    TexCoord t[3];
    Triangle tri;
};

void bench_triangle(BenchTriangle *b, const int32_t xy[6], Fixed depth) {
    *b = BenchTriangle{};
    for (int k = 0; k < 3; k++) {
        b->v[k].sx = xy[2 * k];
        b->v[k].sy = xy[2 * k + 1];
        b->v[k].vz = depth;
        b->tri.v[k] = &b->v[k];
    }
    b->tri.color = 40;
    b->tri.depth = depth;
}

// Two triangles that together cover the whole screen (239 x 399 pixels).
const int32_t SCREEN_HALVES[2][6] = {{0, 0, 400, 0, 0, 240}, {400, 0, 400, 240, 0, 240}};

void BM_FlatFillFullScreen(benchmark::State &state) {
    fb_attach_storage();
    BenchTriangle halves[2];
    for (int i = 0; i < 2; i++) bench_triangle(&halves[i], SCREEN_HALVES[i], 5 * FIXED_ONE);
    int64_t pixels = 0;
    for (auto _ : state) {
        state.PauseTiming();
        depth_clear();
        state.ResumeTiming();
        draw_triangle_flat(&halves[0].tri);
        draw_triangle_flat(&halves[1].tri);
        pixels += halves[0].tri.pixels + halves[1].tri.pixels;
    }
    state.SetItemsProcessed(pixels);
    state.counters["pixels_per_frame"] = static_cast<double>(halves[0].tri.pixels + halves[1].tri.pixels);
}
BENCHMARK(BM_FlatFillFullScreen);

void BM_TexturedFillFullScreen(benchmark::State &state) {
    fb_attach_storage();
    std::vector<uint8_t> texels(256 * 128);
    for (size_t i = 0; i < texels.size(); i++) texels[i] = static_cast<uint8_t>(i * 31 + (i >> 8));
    Texture texture{texels.data(), 256, 128};
    const int32_t uv[2][6] = {{0, 0, 255, 0, 0, 127}, {255, 0, 255, 127, 0, 127}};
    BenchTriangle halves[2];
    for (int i = 0; i < 2; i++) {
        bench_triangle(&halves[i], SCREEN_HALVES[i], 5 * FIXED_ONE);
        for (int k = 0; k < 3; k++) {
            halves[i].t[k] = TexCoord{uv[i][2 * k], uv[i][2 * k + 1]};
            halves[i].tri.t[k] = &halves[i].t[k];
        }
        halves[i].tri.texture = &texture;
    }
    int64_t pixels = 0;
    for (auto _ : state) {
        state.PauseTiming();
        depth_clear();
        state.ResumeTiming();
        draw_triangle_textured(&halves[0].tri);
        draw_triangle_textured(&halves[1].tri);
        pixels += halves[0].tri.pixels + halves[1].tri.pixels;
    }
    state.SetItemsProcessed(pixels);
}
BENCHMARK(BM_TexturedFillFullScreen);

// A grid mesh of 50 x 50 quads (5000 triangles) in model space, placed so
// that it covers about a third of the screen at depth 10.
struct GridMesh {
    std::vector<Vertex> vertices;
    std::vector<Triangle> triangles;
    std::vector<Triangle *> items;
    TriangleList list;
};

void grid_mesh(GridMesh *g, int cells) {
    int side = cells + 1;
    g->vertices.assign(static_cast<size_t>(side) * side, Vertex{});
    for (int j = 0; j < side; j++)
        for (int i = 0; i < side; i++) {
            Vertex &v = g->vertices[static_cast<size_t>(j) * side + i];
            // Whole units: the transform reads integer parts only.
            v.x = (i - cells / 2) * FIXED_ONE;
            v.y = (j - cells / 2) * FIXED_ONE;
            v.z = ((i + j) % 3) * FIXED_ONE;
        }
    g->triangles.assign(static_cast<size_t>(cells) * cells * 2, Triangle{});
    for (int j = 0; j < cells; j++)
        for (int i = 0; i < cells; i++) {
            Vertex *a = &g->vertices[static_cast<size_t>(j) * side + i], *b = a + 1;
            Vertex *c = a + side, *d = c + 1;
            Triangle *t = &g->triangles[(static_cast<size_t>(j) * cells + i) * 2];
            t[0].v[0] = a; t[0].v[1] = b; t[0].v[2] = c;
            t[1].v[0] = b; t[1].v[1] = d; t[1].v[2] = c;
            t[0].color = 40;
            t[1].color = 60;
        }
    g->items.clear();
    for (Triangle &t : g->triangles) g->items.push_back(&t);
    g->list = TriangleList{g->items.data(), static_cast<int32_t>(g->items.size())};
}

// Camera: scale so that 50 units span about 230 x 150 pixels at depth 76.
void grid_camera(void) {
    while (matrix_stack_top > 0) matrix_pop();
    matrix_scale(current_matrix, 2 * FIXED_ONE + FIXED_ONE / 3, FIXED_ONE + FIXED_ONE / 2, FIXED_ONE);
    matrix_set_translation(current_matrix, 0, 0, 76 * FIXED_ONE);
}

void BM_MeshFrame5000Triangles(benchmark::State &state) {
    fb_attach_storage();
    GridMesh g;
    grid_mesh(&g, 50);
    grid_camera();
    for (auto _ : state) {
        state.PauseTiming();
        fb_clear();
        depth_clear();
        frame_counter++;
        state.ResumeTiming();
        transform_triangles(&g.list);
        draw_triangles_sorted(&g.list);
    }
    state.SetItemsProcessed(state.iterations() * g.list.count);
    int covered = 0;
    for (int i = 0; i < 96000; i++) covered += fb_pixels[i] != 0;
    state.counters["screen_fraction"] = covered / 96000.0;
}
BENCHMARK(BM_MeshFrame5000Triangles);

void BM_TransformVertices(benchmark::State &state) {
    GridMesh g;
    grid_mesh(&g, 100);
    grid_camera();
    matrix_rotate_euler(current_matrix, 30 * FIXED_ONE, 20 * FIXED_ONE, 10 * FIXED_ONE);
    for (auto _ : state) {
        frame_counter++;  // every vertex is transformed again
        transform_triangles(&g.list);
        benchmark::DoNotOptimize(g.vertices.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(g.vertices.size()));
}
BENCHMARK(BM_TransformVertices);

void BM_ClearFloor(benchmark::State &state) {
    fb_attach_storage();
    for (auto _ : state) {
        fb_clear();
        depth_clear();
        benchmark::ClobberMemory();
    }
    // Bytes written per frame: 96000 palette indices and 96000 depth entries.
    state.SetBytesProcessed(state.iterations() * (96000 + 96000 * 2));
    state.SetItemsProcessed(state.iterations() * 96000);
}
BENCHMARK(BM_ClearFloor);

}  // namespace
