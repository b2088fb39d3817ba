// The committed data files under res/ are exactly what tools/make_assets
// writes, and they load: the particle image and the textured torus. The
// before-and-after sheet of pictures in docs/ is what tools/image_sheet
// draws.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <string>

#include "assets/image.h"
#include "assets/obj.h"
#include "assets/pcx.h"
#include "gfx2d/palette.h"
#include "support/assets_disk.h"
#include "support/platform_process.h"
#include "util/alloc.h"

namespace {

// Each tool and the files of res/ it writes.
const struct {
    const char *tool;
    std::vector<const char *> files;
} generated_files[] = {
    {"make_assets", {"tunnel.pcx", "torus.pcx", "torus.mtl", "torus.obj", "crate.pcx", "crate.mtl", "crate.obj"}},
    {"make_sync_tracks", {"sync_tracks.rocket", "sync_tracks_scene.track", "sync_tracks_cam-3Ayaw.track",
                          "sync_tracks_cam-3Apitch.track", "sync_tracks_cam-3Adist.track",
                          "sync_tracks_colour-3Ahue.track", "sync_tracks_colour-3Aflash.track"}},
};

TEST(MakeAssets, ToolReproducesTheCommittedFilesByteForByte) {
    std::string dir = make_temp_dir("make_assets");
    ASSERT_FALSE(dir.empty());
    for (const auto &generated : generated_files) {
        ASSERT_EQ(run_command(std::string(ENGINE_BINARY_DIR) + "/" + generated.tool + " '" + dir + "'"), 0);
        for (const char *name : generated.files) {
            std::vector<uint8_t> made, committed;
            ASSERT_TRUE(read_whole_file(dir + "/" + name, &made)) << name;
            ASSERT_TRUE(read_whole_file(std::string(ENGINE_SOURCE_DIR) + "/res/" + name, &committed)) << name;
            EXPECT_TRUE(made == committed) << "res/" << name << " differs from what " << generated.tool
                                           << " writes; run build/" << generated.tool << " from the repository root";
        }
    }
    // An unwritable directory fails with a message, not a crash.
    std::string errors = dir + "/errors.txt";
    EXPECT_NE(run_command(std::string(ENGINE_BINARY_DIR) + "/make_assets '" + dir + "/none' 2>'" + errors + "'"), 0);
    std::vector<uint8_t> text;
    ASSERT_TRUE(read_whole_file(errors, &text));
    EXPECT_EQ(std::string(text.begin(), text.end()).rfind("PCX: cannot save", 0), 0u);
    remove_tree(dir);
}

TEST(MakeAssets, TunnelImageIsA256By128TextureInTheEnginePalette) {
    PcxImage *image = pcx_open("res/tunnel.pcx");
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(pcx_decode(image), 0);
    EXPECT_EQ(pcx_close(image), 0);
    EXPECT_EQ(image->width, 256);
    EXPECT_EQ(image->height, 128);
    EXPECT_EQ(image->bits_per_pixel, 8);
    for (int i = 0; i < 256; i++) {
        uint32_t rgb = static_cast<uint32_t>(image->palette[3 * i]) << 24 | static_cast<uint32_t>(image->palette[3 * i + 1]) << 16 |
                       static_cast<uint32_t>(image->palette[3 * i + 2]) << 8;
        ASSERT_EQ(rgb, Palette[i]) << "palette entry " << i;
    }
    // A wall of bricks: mortar rows every 16 pixels, and more than a handful
    // of colours between them.
    int colors_used[256] = {};
    for (int i = 0; i < 256 * 128; i++) colors_used[image->pixels[i]] = 1;
    int distinct = 0;
    for (int used : colors_used) distinct += used;
    EXPECT_GT(distinct, 24);
    EXPECT_EQ(image->pixels[0], image->pixels[16 * 256 + 100]);
    engine_free(image->pixels);
    pcx_free(image);
}

TEST(MakeAssets, TorusLoadsWithItsTextureAndLiesOnItsSurface) {
    testing::internal::CaptureStdout();
    Mesh *mesh = obj_load("res/torus.obj", 64);
    std::string output = testing::internal::GetCapturedStdout();
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(output, "res/torus.obj\nLoading mtllib 'res/torus.mtl'\nLoading texure 'res/torus.pcx'\n");
    EXPECT_EQ(mesh->vertices->count, 288u);
    EXPECT_EQ(mesh->texcoords->count, 325u);
    EXPECT_EQ(mesh->faces->count, 576u);
    ASSERT_NE(mesh->material, nullptr);
    EXPECT_EQ(mesh->material->width, 256);
    EXPECT_EQ(mesh->material->height, 128);
    // Every vertex on the torus of ring radius 64 and tube radius 25.6 (in
    // Fixed, y flipped), to the precision of 4 decimals times 64.
    for (uint64_t i = 0; i < mesh->vertices->count; i++) {
        const Vertex *v = static_cast<const Vertex *>(mesh->vertices->items[i]);
        double x = v->x / 65536.0, y = -v->y / 65536.0, z = v->z / 65536.0;
        double from_ring = std::sqrt(x * x + z * z) - 64.0;
        EXPECT_NEAR(std::sqrt(from_ring * from_ring + y * y), 25.6, 0.02) << "vertex " << i;
    }
    // Every face fully textured, its corners inside the texture, and no
    // face degenerate (three different vertices).
    for (int32_t i = 0; i < mesh->list->count; i++) {
        const Triangle *t = mesh->list->items[i];
        EXPECT_EQ(t->texture, mesh->material);
        EXPECT_TRUE(t->v[0] != t->v[1] && t->v[1] != t->v[2] && t->v[0] != t->v[2]) << "face " << i;
        for (int j = 0; j < 3; j++) {
            ASSERT_NE(t->t[j], nullptr) << "face " << i;
            EXPECT_TRUE(t->t[j]->u >= 0 && t->t[j]->u < 256 && t->t[j]->v >= 0 && t->t[j]->v < 128);
        }
    }
    mesh_destroy(mesh);
}

TEST(MakeAssets, CrateLoadsWithItsTextureAndLiesOnItsCube) {
    testing::internal::CaptureStdout();
    Mesh *mesh = obj_load("res/crate.obj", 64);
    std::string output = testing::internal::GetCapturedStdout();
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(output, "res/crate.obj\nLoading mtllib 'res/crate.mtl'\nLoading texure 'res/crate.pcx'\n");
    EXPECT_EQ(mesh->vertices->count, 150u);
    EXPECT_EQ(mesh->texcoords->count, 25u);
    EXPECT_EQ(mesh->faces->count, 192u);
    ASSERT_NE(mesh->material, nullptr);
    EXPECT_EQ(mesh->material->width, 128);
    EXPECT_EQ(mesh->material->height, 128);
    // Every vertex on the surface of the cube of side 128: one coordinate
    // at +-64 exactly, the others within; whole units only.
    for (uint64_t i = 0; i < mesh->vertices->count; i++) {
        const Vertex *v = static_cast<const Vertex *>(mesh->vertices->items[i]);
        const Fixed c[3] = {v->x, v->y, v->z};
        int on_face = 0;
        for (Fixed f : c) {
            EXPECT_EQ(f % 65536, 0) << "vertex " << i;
            EXPECT_LE(std::abs(f), 64 * 65536) << "vertex " << i;
            on_face += std::abs(f) == 64 * 65536;
        }
        EXPECT_GE(on_face, 1) << "vertex " << i;
    }
    // The texture coordinates are the 5 x 5 grid 0, 32, 64, 96, 127.
    const int32_t grid[5] = {0, 32, 64, 96, 127};
    for (uint64_t i = 0; i < 25; i++) {
        const TexCoord *t = static_cast<const TexCoord *>(mesh->texcoords->items[i]);
        EXPECT_EQ(t->u, grid[i % 5]) << "vt " << i;
        EXPECT_EQ(t->v, grid[i / 5]) << "vt " << i;
    }
    mesh_destroy(mesh);
}

// The sheet's pixels as image_read gives them (RGB), or an empty picture.
struct SheetPixels {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
};

SheetPixels read_sheet(const std::string &path) {
    SheetPixels sheet;
    ImageWhy why;
    ImagePixels *image = image_read(path.c_str(), &why);
    EXPECT_NE(image, nullptr) << path << ": " << why.text;
    if (image == nullptr) return sheet;
    EXPECT_EQ(image->palette_colors, 0) << path << " is not an RGB picture";
    if (image->palette_colors == 0) {
        sheet.width = image->width;
        sheet.height = image->height;
        sheet.rgb.assign(image->pixels, image->pixels + static_cast<size_t>(image->width) * image->height * 3);
    }
    image_pixels_free(image);
    return sheet;
}

// Pixels are compared, not bytes: another zlib may pack the same picture
// differently.
TEST(ImageSheet, ToolRedrawsTheCommittedSheetAndKeepsEngineColours) {
    const std::string dir = make_temp_dir("image_sheet");
    ASSERT_FALSE(dir.empty());
    const std::string sheet = ENGINE_BINARY_DIR "/image_sheet";
    ASSERT_EQ(run_command(sheet + " '" + dir + "/own.png' >/dev/null"), 0);
    const SheetPixels made = read_sheet(dir + "/own.png");
    const SheetPixels committed = read_sheet(ENGINE_SOURCE_DIR "/docs/image_sheet.png");
    EXPECT_EQ(made.width, committed.width);
    EXPECT_EQ(made.height, committed.height);
    EXPECT_TRUE(made.rgb == committed.rgb) << "docs/image_sheet.png differs from what image_sheet draws; run "
                                           << "build/image_sheet docs/image_sheet.png from the repository root";

    // A picture in the engine's own palette looks the same in all five
    // panels: its indices kept, never dithered. Panels are 256 wide (the
    // widest a picture is shown) below a title line and a caption line.
    ASSERT_EQ(run_command(sheet + " '" + dir + "/tunnel.png' res/tunnel.pcx >/dev/null"), 0);
    const SheetPixels tunnel = read_sheet(dir + "/tunnel.png");
    const int margin = 8, line = 20, panel_w = 256, panel_h = 128;
    ASSERT_EQ(tunnel.width, margin + 5 * (panel_w + margin));
    ASSERT_EQ(tunnel.height, margin + 2 * line + panel_h + margin);
    const auto panel_row = [&](int column, int y) {
        const size_t at = (static_cast<size_t>(margin + 2 * line + y) * tunnel.width + margin + column * (panel_w + margin)) * 3;
        return std::vector<uint8_t>(tunnel.rgb.begin() + at, tunnel.rgb.begin() + at + panel_w * 3);
    };
    for (int y = 0; y < panel_h; y++)
        for (int column = 1; column < 5; column++)
            ASSERT_TRUE(panel_row(column, y) == panel_row(0, y)) << "panel " << column << ", row " << y;

    // A file it cannot read: one line, status 1, no sheet.
    const std::string errors = dir + "/errors.txt";
    EXPECT_EQ(run_command(sheet + " '" + dir + "/none.png' '" + dir + "/missing.pcx' 2>'" + errors + "'"), 1);
    std::vector<uint8_t> text;
    ASSERT_TRUE(read_whole_file(errors, &text));
    EXPECT_EQ(std::string(text.begin(), text.end()),
              "image_sheet: cannot read '" + dir + "/missing.pcx': No such file or directory\n");
    EXPECT_FALSE(read_whole_file(dir + "/none.png", &text));
    remove_tree(dir);
}

}  // namespace
