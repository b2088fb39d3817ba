// OBJ and MTL loader: the loaders' line reader and number parser, the parser figures
// on files written here, bad faces, missing files with their exact
// messages, and failed allocations at every step.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "assets/obj.h"
#include "gfx2d/palette.h"
#include "assets/obj_lines.h"
#include "assets/pcx.h"
#include "support/assets_disk.h"
#include "support/assets_obj_builder.h"
#include "util/alloc.h"

namespace {

struct TempDir {
    std::string path = make_temp_dir("obj");
    ~TempDir() { remove_tree(path); }
    std::string file(const std::string &name) const { return path + "/" + name; }
    std::string write(const std::string &name, const std::string &text) const {
        EXPECT_TRUE(assets_write_text(file(name), text));
        return file(name);
    }
    // A width x height PCX texture whose texel (x, y) is (x + y) mod 256.
    // A PCX file with the engine's palette, whose indices load unchanged.
    std::string texture(const std::string &name, int width, int height) const {
        std::vector<uint8_t> pixels, palette;
        for (uint32_t color : Palette)
            for (int shift : {24, 16, 8}) palette.push_back(static_cast<uint8_t>(color >> shift));
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++) pixels.push_back(static_cast<uint8_t>(x + y));
        EXPECT_EQ(pcx_save(file(name).c_str(), width, height, pixels.data(), palette.data()), 0);
        return file(name);
    }
};

// obj_load with its standard output captured.
Mesh *load_capturing(const std::string &path, int scale, std::string *output) {
    testing::internal::CaptureStdout();
    Mesh *mesh = obj_load(path.c_str(), scale);
    fflush(stdout);
    *output = testing::internal::GetCapturedStdout();
    return mesh;
}

Vertex *vertex_at(const Mesh *mesh, uint64_t i) { return static_cast<Vertex *>(mesh->vertices->items[i]); }
TexCoord *texcoord_at(const Mesh *mesh, uint64_t i) { return static_cast<TexCoord *>(mesh->texcoords->items[i]); }
Triangle *face_at(const Mesh *mesh, uint64_t i) { return static_cast<Triangle *>(mesh->faces->items[i]); }

TEST(ObjText, ParseFixedTable) {
    struct Row {
        const char *text;
        Fixed value;
    };
    const Row rows[] = {
        {"0.5", 32768},   {"0.25", 16384},   {"0.1", 6553},      {"0.999999", 65535}, {".5", 32768},
        {"-1.25", -81920}, {"3", 196608},     {"1.5abc", 98304},  {"1e3", 65536},      {"abc", 0},
        {"", 0},          {"-", 0},          {"-0.5", -32768},   {"+1", 0},           {" 1", 0},
        {"32767.5", 2147450880}, {"65536", 0},  // integer digits wrap in 32 bits
        {"1.", 65536},    {"0.00001", 0},    {"2.0000000000000000000009", 131072},
    };
    for (const Row &row : rows) EXPECT_EQ(parse_fixed(row.text), row.value) << '"' << row.text << '"';
    EXPECT_EQ(parse_fixed(nullptr), 0);
}

// The number rule digit by digit, as the format's reference states it: the
// integer digits accumulate in 32 bits, the fraction digits are folded in
// from the last one back with a truncating division by 10 at every step.
Fixed reference_fixed(const std::string &text) {
    size_t i = 0;
    bool negative = i < text.size() && text[i] == '-';
    if (negative) i++;
    uint32_t integer = 0;
    for (; i < text.size() && isdigit(static_cast<unsigned char>(text[i])); i++) integer = integer * 10 + static_cast<uint32_t>(text[i] - '0');
    uint32_t result = integer << 16;
    if (i < text.size() && text[i] == '.') {
        size_t first = ++i;
        while (i < text.size() && isdigit(static_cast<unsigned char>(text[i]))) i++;
        uint32_t f = 0;
        for (size_t k = i; k > first; k--) f = (f + static_cast<uint32_t>(text[k - 1] - '0') * 65536u) / 10;
        result += f;
    }
    return static_cast<Fixed>(negative ? 0u - result : result);
}

// parse_fixed and the in-place token reader give exactly the reference's
// value for numbers of every length, including long fractions whose
// digits far down decide the last bit (such as 0.0000152587890625, which
// is exactly 1 / 65536, against one digit less).
TEST(ObjText, ParseFixedMatchesTheDigitByDigitRule) {
    std::vector<std::string> texts = {"0.0000152587890625", "0.0000152587890624", "0.00001525878906249999999999",
                                      "0.99999999999999999999", "0.5000000000000000000000001", "4294967295.9999",
                                      "-0.00000762939453125", "0.1234567890123456789"};
    uint32_t state = 12345;
    auto next = [&state](uint32_t n) {
        state = state * 1103515245u + 12345u;
        return (state >> 8) % n;
    };
    for (int i = 0; i < 200000; i++) {
        std::string text = next(3) == 0 ? "-" : "";
        for (uint32_t k = next(12); k > 0; k--) text += static_cast<char>('0' + next(10));
        if (next(8) != 0) {
            text += '.';
            // Mostly a few digits, as exporters write them; sometimes many.
            uint32_t digits = next(4) == 0 ? next(40) : next(10);
            for (uint32_t k = 0; k < digits; k++) text += static_cast<char>('0' + (next(3) == 0 ? 9 : next(10)));
        }
        if (next(10) == 0) text += "e5";
        texts.push_back(text);
    }
    for (const std::string &text : texts) {
        ASSERT_EQ(parse_fixed(text.c_str()), reference_fixed(text)) << '"' << text << '"';
        std::string line = "\t" + text + "  " + text + "x";
        char *cursor = &line[0];
        ASSERT_EQ(obj_next_fixed(&cursor), reference_fixed(text)) << '"' << text << '"';
        ASSERT_EQ(obj_next_fixed(&cursor), reference_fixed(text)) << '"' << text << '"';
        ASSERT_EQ(obj_next_fixed(&cursor), 0);
    }
}

// The loaders' own line reader: a line feed ends a line, every carriage
// return is dropped, a line comes whole up to OBJ_MAX_LINE_CHARS (also
// across the reader's refills), a longer one is skipped with its number, a
// last line without line feed still counts, and the end gives null for
// good; a failed read too, told apart by read_error.
TEST(ObjText, LinesSplitAtLineFeedsAndComeWhole) {
    TempDir dir;
    const std::string longest(OBJ_MAX_LINE_CHARS, 'M');
    const std::string text = "abc\r\n\nx\ry\n" + std::string(85, 'L') + "\n" + longest + "\n" + longest +
                             "N\nafter\r\r\nlast\r";
    const int fd = open(dir.write("lines.txt", text).c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ObjLines lines;
    ASSERT_EQ(obj_lines_open(&lines, fd, "lines.txt"), 0);
    std::vector<std::string> got;
    testing::internal::CaptureStdout();
    for (const char *line; (line = obj_lines_next(&lines)) != nullptr;) got.push_back(line);
    fflush(stdout);
    const std::string output = testing::internal::GetCapturedStdout();
    const std::vector<std::string> expected = {"abc", "", "xy", std::string(85, 'L'), longest, "after", "last"};
    EXPECT_EQ(got, expected);
    EXPECT_EQ(output, "Skipping line 6 of 'lines.txt': longer than 65536 characters\n");
    EXPECT_EQ(lines.line_number, 8);
    EXPECT_EQ(obj_lines_next(&lines), nullptr);
    EXPECT_EQ(lines.read_error, 0);
    obj_lines_close(&lines);
    close(fd);

    ASSERT_EQ(obj_lines_open(&lines, -1, "none"), 0);
    EXPECT_EQ(obj_lines_next(&lines), nullptr);
    EXPECT_EQ(lines.read_error, EBADF);
    obj_lines_close(&lines);
    obj_lines_close(&lines);  // twice: harmless
}

TEST(ObjLoad, VerticesScaleFlipAndLineRules) {
    TempDir dir;
    std::string text =
        "v 1.5 2 -0.25\n"                      // scale 2: 196608, -262144, -32768
        "v\t9\t9 \t 9\n"                       // tabs separate like spaces
        "#v 9 9 9\n"                           // comment
        "   \n"                                // no token
        "V 9 9 9\n"                            // keywords are case-sensitive
        "v 3\r\n"                              // CRLF, missing tokens read 0
        "v 1 2 3 4 5\n"                        // tokens after the third ignored
        "#" + std::string(79, 'x') + "v 7 8\n"  // a long comment is a comment to its end
        "v 5 5 5" + std::string(73, ' ') + "\n"  // 80 characters
        "vn 1 0 0\nusemtl x\ns off\no name\n"   // ignored statements
        "v 0.5" + std::string(200, '0') + "\t-1 2\n"  // every fraction digit counts
        "v 6 6 6" + std::string(OBJ_MAX_LINE_CHARS - 7, ' ') + "\n"  // the longest line taken
        "v 8 8 8" + std::string(OBJ_MAX_LINE_CHARS - 6, ' ') + "\n"  // line 16: one more, skipped
        "v -1 -1 -1";                          // last line without line feed
    std::string output;
    Mesh *mesh = load_capturing(dir.write("v.obj", text), 2, &output);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(output, dir.file("v.obj") + "\nSkipping line 16 of '" + dir.file("v.obj") +
                          "': longer than 65536 characters\n");
    ASSERT_EQ(mesh->vertices->count, 8u);
    struct Want {
        Fixed x, y, z;
    };
    const Want want[] = {
        {196608, -262144, -32768}, {1179648, -1179648, 1179648}, {393216, 0, 0},
        {131072, -262144, 393216}, {655360, -655360, 655360},   {65536, 131072, 262144},
        {786432, -786432, 786432}, {-131072, 131072, -131072},
    };
    for (uint64_t i = 0; i < 8; i++) {
        const Vertex *v = vertex_at(mesh, i);
        EXPECT_EQ(v->x, want[i].x) << "vertex " << i;
        EXPECT_EQ(v->y, want[i].y) << "vertex " << i;
        EXPECT_EQ(v->z, want[i].z) << "vertex " << i;
        EXPECT_EQ(v->color, OBJ_COLOR);
        EXPECT_EQ(v->vx | v->vy | v->vz | v->sx | v->sy | static_cast<int32_t>(v->stamp), 0);
    }
    EXPECT_EQ(mesh->texcoords->count, 0u);
    EXPECT_EQ(mesh->faces->count, 0u);
    EXPECT_EQ(mesh->material, nullptr);
    EXPECT_EQ(mesh->list->count, 0);
    EXPECT_EQ(mesh->vertices->capacity, 32u);
    mesh_destroy(mesh);
    mesh_destroy(nullptr);
}

TEST(ObjLoad, TexCoordsFacesAndTheirForms) {
    TempDir dir;
    std::string texture = dir.texture("tex.pcx", 256, 128);
    std::string mtl = dir.write("m.mtl", "# material\nnewmtl skin\nKd 1 1 1\nmap_Kd " + texture + "\n");
    std::string text =
        "vt 0.9 0.9\n"  // before the material: kept, texels once a face uses it
        "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
        "mtllib " + mtl + "\n"
        "vt 0.5 0.25\n"    // 128, 32
        "vt -0.5 1.0\n"    // clamped: 0, 127
        "vt 1.5 0.999\n"   // clamped: 255, 127
        "vt 0 0\n"
        "f 1/1 2/2 3/3 4/4\n"   // quad: the fan of two triangles from corner 1
        "f 1//4 2//4 3//4\n"    // vertex and normal: no texture coordinates
        "f 4 3 2\n"             // plain: none either
        "f 2/5/1 3/2/1 4/3/1\n"
        "f\t1 2\t3\n"           // tabs separate like spaces
        "f -1/-1 -2/-2 -3/-3\n"  // relative: -1 is the latest record
        "f 1/1 2/2 3/3 4/4 1/5 2/2\n";  // six corners: four triangles
    std::string output;
    Mesh *mesh = load_capturing(dir.write("f.obj", text), 1, &output);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(output, dir.file("f.obj") + "\nLoading mtllib '" + mtl + "'\nLoading texure '" + texture + "'\n");
    ASSERT_NE(mesh->material, nullptr);
    EXPECT_EQ(mesh->material->width, 256);
    EXPECT_EQ(mesh->material->height, 128);
    EXPECT_EQ(mesh->material->pixels[5 + 3 * 256], 8);

    ASSERT_EQ(mesh->texcoords->count, 5u);
    const int want_uv[5][2] = {{230, 115}, {128, 32}, {0, 127}, {255, 127}, {0, 0}};
    for (uint64_t i = 0; i < 5; i++) {
        EXPECT_EQ(texcoord_at(mesh, i)->u, want_uv[i][0]) << "vt " << i;
        EXPECT_EQ(texcoord_at(mesh, i)->v, want_uv[i][1]) << "vt " << i;
    }

    const int want_v[][3] = {{1, 2, 3}, {1, 3, 4}, {1, 2, 3}, {4, 3, 2}, {2, 3, 4}, {1, 2, 3},
                             {4, 3, 2}, {1, 2, 3}, {1, 3, 4}, {1, 4, 1}, {1, 1, 2}};
    const int want_t[][3] = {{1, 2, 3}, {1, 3, 4}, {0, 0, 0}, {0, 0, 0}, {5, 2, 3}, {0, 0, 0},
                             {5, 4, 3}, {1, 2, 3}, {1, 3, 4}, {1, 4, 5}, {1, 5, 2}};
    const uint64_t faces = sizeof want_v / sizeof want_v[0];
    ASSERT_EQ(mesh->faces->count, faces);
    for (uint64_t i = 0; i < faces; i++) {
        const Triangle *f = face_at(mesh, i);
        for (int j = 0; j < 3; j++) {
            EXPECT_EQ(f->v[j], vertex_at(mesh, want_v[i][j] - 1)) << "face " << i << " corner " << j;
            TexCoord *t = want_t[i][j] ? texcoord_at(mesh, want_t[i][j] - 1) : nullptr;
            EXPECT_EQ(f->t[j], t) << "face " << i << " corner " << j;
        }
        EXPECT_EQ(f->texture, mesh->material);
        EXPECT_EQ(f->pixels, 2147483647);
        EXPECT_EQ(f->color, 15);
        EXPECT_EQ(f->depth, 0);
    }
    EXPECT_EQ(mesh->list->items, reinterpret_cast<Triangle **>(mesh->faces->items));
    EXPECT_EQ(mesh->list->count, static_cast<int32_t>(faces));
    mesh_destroy(mesh);

    // A model without material whose faces name texture coordinates: every
    // face loads, drawn flat (no texture, texels 0).
    mesh = load_capturing(dir.write("bare.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0\nvt 0 0\nvt 0.5 1\n"
                                                "f 1/1/1 2/2/1 3/2/1\nf 3/1 2/2 1/2\n"),
                          1, &output);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(output, dir.file("bare.obj") + "\n");
    ASSERT_EQ(mesh->faces->count, 2u);
    for (uint64_t i = 0; i < 2; i++) {
        EXPECT_EQ(face_at(mesh, i)->texture, nullptr);
        EXPECT_EQ(face_at(mesh, i)->t[1], texcoord_at(mesh, 1));
    }
    EXPECT_EQ(texcoord_at(mesh, 1)->u | texcoord_at(mesh, 1)->v, 0);
    mesh_destroy(mesh);
}

TEST(ObjLoad, MaterialsTwoImagesNoImageAndAFaceBeforeTheMaterial) {
    TempDir dir;
    std::string first = dir.texture("first.pcx", 4, 2), second = dir.texture("second.pcx", 8, 3);
    std::string two = dir.write("two.mtl", "map_Kd " + first + "\nmap_Kd " + second + "\n");
    testing::internal::CaptureStdout();
    Texture *material = mtl_load(two.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Loading texure '" + first + "'\nLoading texure '" + second + "'\n");
    ASSERT_NE(material, nullptr);
    EXPECT_EQ(material->width, 8);
    EXPECT_EQ(material->height, 3);
    EXPECT_EQ(material->pixels[7 + 2 * 8], 9);
    texture_destroy(material);

    // No "map_Kd": an empty texture; texture coordinates then read 0, and
    // faces carry the material (the renderer fills them flat).
    std::string plain = dir.write("plain.mtl", "newmtl flat\nKd 1 0 0\nmap_Ks spec.pcx\n#map_Kd x.pcx\n");
    std::string text = "v 0 0 0\nv 1 0 0\nv 1 1 0\n"
                       "f 1 2 3\n"  // before the material: no texture
                       "mtllib " + plain + "\nvt 0.5 0.5\nf 1/1 2/1 3/1\n";
    std::string output;
    Mesh *mesh = load_capturing(dir.write("plain.obj", text), 1, &output);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(output, dir.file("plain.obj") + "\nLoading mtllib '" + plain + "'\n");
    ASSERT_NE(mesh->material, nullptr);
    EXPECT_EQ(mesh->material->width, 0);
    EXPECT_EQ(mesh->material->height, 0);
    EXPECT_EQ(mesh->material->pixels, nullptr);
    ASSERT_EQ(mesh->texcoords->count, 1u);
    EXPECT_EQ(texcoord_at(mesh, 0)->u, 0);
    EXPECT_EQ(texcoord_at(mesh, 0)->v, 0);
    ASSERT_EQ(mesh->faces->count, 2u);
    EXPECT_EQ(face_at(mesh, 0)->texture, nullptr);
    EXPECT_EQ(face_at(mesh, 1)->texture, mesh->material);
    mesh_destroy(mesh);

    // Several materials: each face carries the one current when it was
    // read, with texels of that material's texture; a texture coordinate
    // shared across materials gets a record for each. A material no face
    // uses is released when the next one comes; the others stay with the
    // faces that carry them until mesh_destroy releases them all.
    std::string one = dir.write("one.mtl", "map_Kd " + first + "\n");
    text = "v 0 0 0\nv 1 0 0\nv 1 1 0\n"
           "vt 1 1\n"
           "f 1/1 2/1 3/1\n"  // no material: texels 0
           "mtllib " + two + "\n"
           "f 1/1 2/1 3/1\n"  // 8 x 3: 7, 2
           "mtllib " + plain + "\n"
           "mtllib " + one + "\n"
           "vt 0.5 0.5\n"
           "f 1/1 2/2 3/1 1/2\n";  // 4 x 2: 3, 1 and 2, 1
    mesh = load_capturing(dir.write("again.obj", text), 1, &output);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(output, dir.file("again.obj") + "\nLoading mtllib '" + two + "'\nLoading texure '" + first +
                          "'\nLoading texure '" + second + "'\nLoading mtllib '" + plain + "'\nLoading mtllib '" +
                          one + "'\nLoading texure '" + first + "'\n");
    ASSERT_NE(mesh->material, nullptr);
    EXPECT_EQ(mesh->material->width, 4);
    ASSERT_EQ(mesh->faces->count, 4u);
    EXPECT_EQ(face_at(mesh, 0)->texture, nullptr);
    const Texture *second_material = face_at(mesh, 1)->texture;
    ASSERT_NE(second_material, nullptr);
    EXPECT_EQ(second_material->width, 8);
    EXPECT_EQ(second_material->pixels[7 + 2 * 8], 9);
    EXPECT_EQ(face_at(mesh, 2)->texture, mesh->material);
    EXPECT_EQ(face_at(mesh, 3)->texture, mesh->material);
    const int want_texels[4][3][2] = {{{0, 0}, {0, 0}, {0, 0}},
                                      {{7, 2}, {7, 2}, {7, 2}},
                                      {{3, 1}, {2, 1}, {3, 1}},
                                      {{3, 1}, {3, 1}, {2, 1}}};
    for (uint64_t i = 0; i < 4; i++) {
        for (int j = 0; j < 3; j++) {
            const TexCoord *t = face_at(mesh, i)->t[j];
            ASSERT_NE(t, nullptr);
            EXPECT_EQ(t->u, want_texels[i][j][0]) << "face " << i << " corner " << j;
            EXPECT_EQ(t->v, want_texels[i][j][1]) << "face " << i << " corner " << j;
        }
    }
    // Two "vt" lines, and the first made again for each later material.
    EXPECT_EQ(mesh->texcoords->count, 4u);
    mesh_destroy(mesh);  // under AddressSanitizer: every material released once
}

// Lines are read whole however long: a long comment stays a comment, long
// names open what they say, tabs separate tokens, and only a line past the
// bound is skipped, with its number.
TEST(ObjLoad, LongLinesAndTabsInModelAndMaterial) {
    TempDir dir;
    std::string folder = dir.file(std::string(120, 'd'));
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    std::string texture = dir.texture(std::string(120, 'd') + "/t.pcx", 4, 4);
    std::string long_comment = "#" + std::string(79, '-') + "map_Kd missing.pcx\n";
    std::string too_long = "map_Kd missing.pcx" + std::string(OBJ_MAX_LINE_CHARS, ' ') + "\n";
    std::string mtl = dir.write(std::string(120, 'd') + "/m.mtl",
                                long_comment + "newmtl a\n" + too_long + "map_Kd\t" + texture + "\t\n");
    std::string text = "v 0 0 0\nv 1 0 0\nv 1 1 0\n" + long_comment +
                       "mtllib " + mtl + "\n" +
                       "vt 0.5 0.5" + std::string(100, ' ') + "f 9 9 9\n" +
                       "f 1" + std::string(OBJ_MAX_LINE_CHARS, ' ') + "2 3\n" +
                       "f 1/1\t2/1 3/1\n";
    std::string output;
    Mesh *mesh = load_capturing(dir.write("long.obj", text), 1, &output);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(output, dir.file("long.obj") + "\nLoading mtllib '" + mtl + "'\nSkipping line 3 of '" + mtl +
                          "': longer than 65536 characters\nLoading texure '" + texture + "'\nSkipping line 7 of '" +
                          dir.file("long.obj") + "': longer than 65536 characters\n");
    ASSERT_NE(mesh->material, nullptr);
    EXPECT_EQ(mesh->material->width, 4);
    ASSERT_EQ(mesh->texcoords->count, 1u);
    EXPECT_EQ(texcoord_at(mesh, 0)->u, 2);
    ASSERT_EQ(mesh->faces->count, 1u);
    EXPECT_EQ(face_at(mesh, 0)->t[2], texcoord_at(mesh, 0));
    mesh_destroy(mesh);
}

// A model's material file and a material's image are opened as written,
// relative to the working directory, and when nothing is there, beside the
// file that names them: a model loads from any folder.
TEST(ObjLoad, NamedFilesAreFoundAsWrittenThenBesideTheirNamer) {
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("models").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(dir.file("materials").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(dir.file("materials/images").c_str(), 0700), 0);
    dir.texture("materials/images/t.pcx", 8, 2);
    dir.texture("wide.pcx", 16, 2);
    dir.write("materials/m.mtl", "map_Kd images/t.pcx\n");
    dir.write("models/m.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0\nmtllib ../materials/m.mtl\nvt 1 0\nf 1/1 2/1 3/1\n");
    std::string output;
    // From the repository (the tests' working directory): found beside.
    Mesh *mesh = load_capturing(dir.file("models/m.obj"), 1, &output);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(output, dir.file("models/m.obj") +
                          "\nLoading mtllib '../materials/m.mtl'\nLoading texure 'images/t.pcx'\n");
    ASSERT_NE(mesh->material, nullptr);
    EXPECT_EQ(mesh->material->width, 8);
    EXPECT_EQ(texcoord_at(mesh, 0)->u, 7);
    mesh_destroy(mesh);

    // What exists as written comes first: run from the model's folder, an
    // "images/t.pcx" there wins over the one beside the material.
    char *saved = getcwd(nullptr, 0);
    ASSERT_NE(saved, nullptr);
    ASSERT_EQ(chdir(dir.file("models").c_str()), 0);
    ASSERT_EQ(mkdir("images", 0700), 0);
    ASSERT_EQ(rename(dir.file("wide.pcx").c_str(), "images/t.pcx"), 0);
    mesh = load_capturing("m.obj", 1, &output);
    EXPECT_EQ(chdir(saved), 0);
    free(saved);
    ASSERT_NE(mesh, nullptr);
    ASSERT_NE(mesh->material, nullptr);
    EXPECT_EQ(mesh->material->width, 16);
    mesh_destroy(mesh);

    // Found in neither place: the message names the file as written.
    dir.write("models/lost.obj", "mtllib lost.mtl\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(load_capturing(dir.file("models/lost.obj"), 1, &output), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "MTL: cannot open 'lost.mtl': No such file or directory\n");
    EXPECT_EQ(output, dir.file("models/lost.obj") + "\nLoading mtllib 'lost.mtl'\nUnable to load mtllib\n");
    // A name that would drive the terminal (here set its title) is shown
    // without its control bytes; UTF-8 text stays as it is.
    dir.write("models/evil.obj", "mtllib \x1b]0;owned\x07\xc3\xa9t\xc3\xa9\xc2\x9b.mtl\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(load_capturing(dir.file("models/evil.obj"), 1, &output), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "MTL: cannot open '?]0;owned?\xc3\xa9t\xc3\xa9?.mtl': No such file or directory\n");
    EXPECT_EQ(output, dir.file("models/evil.obj") + "\nLoading mtllib '?]0;owned?\xc3\xa9t\xc3\xa9?.mtl'\n"
                      "Unable to load mtllib\n");

    // Found beside but no image: the message names the file that was tried.
    dir.write("models/cut.pcx", "\ncut short");  // a PCX manufacturer byte, then too little
    dir.write("models/cut.mtl", "map_Kd cut.pcx\n");
    dir.write("models/cut.obj", "mtllib cut.mtl\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(load_capturing(dir.file("models/cut.obj"), 1, &output), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "MTL: '" + dir.file("models/cut.mtl") +
                                                          "': cannot load the image '" + dir.file("models/cut.pcx") +
                                                          "': ends inside its 128-byte header\n");
}

TEST(ObjLoad, BadFacesAreSkippedWithTheirLineNumber) {
    TempDir dir;
    std::string mtl = dir.write("m.mtl", "map_Kd " + dir.texture("t.pcx", 16, 16) + "\n");
    std::string prelude = obj_bad_face_prelude(mtl);
    // The face, then a good one that must still load; the face's line must
    // give its message.
    auto load_face = [&](const BadFace &face) {
        std::string path = dir.write("face.obj", prelude + face.line + "\nf 1/1 2/2 3/1\n");
        std::string output;
        Mesh *mesh = load_capturing(path, 1, &output);
        std::string header = path + "\nLoading mtllib '" + mtl + "'\nLoading texure '" + dir.file("t.pcx") + "'\n";
        EXPECT_EQ(output, header + face.message) << face.name;
        return mesh;
    };
    for (const BadFace &bad : obj_bad_faces(OBJ_BAD_FACE_FIRST_LINE)) {
        Mesh *mesh = load_face(bad);
        ASSERT_NE(mesh, nullptr) << bad.name;
        ASSERT_EQ(mesh->faces->count, 1u) << bad.name;
        EXPECT_EQ(mesh->list->count, 1) << bad.name;
        EXPECT_EQ(face_at(mesh, 0)->v[2], vertex_at(mesh, 2)) << bad.name;
        mesh_destroy(mesh);
    }
    // A texture coordinate index that names nothing keeps the face (every
    // triangle of it) without texture coordinates.
    for (const BadFace &kept : obj_faces_without_texcoords(OBJ_BAD_FACE_FIRST_LINE)) {
        Mesh *mesh = load_face(kept);
        ASSERT_NE(mesh, nullptr) << kept.name;
        ASSERT_GE(mesh->faces->count, 2u) << kept.name;
        uint64_t last = mesh->faces->count - 1;
        for (uint64_t i = 0; i < last; i++) {
            EXPECT_EQ(face_at(mesh, i)->v[0], vertex_at(mesh, 0)) << kept.name;
            EXPECT_EQ(face_at(mesh, i)->texture, mesh->material) << kept.name;
            for (int j = 0; j < 3; j++) EXPECT_EQ(face_at(mesh, i)->t[j], nullptr) << kept.name;
        }
        EXPECT_EQ(face_at(mesh, last)->t[1], texcoord_at(mesh, 1)) << kept.name;
        mesh_destroy(mesh);
    }

    // Indices count only the records read so far, and line numbers count
    // the lines of the file even when a long one is read in pieces.
    std::string text = "f 1 2 3\n"
                       "v 0 0 0\nv 1 0 0\nv 1 1 0\n"
                       "#" + std::string(100, '-') + "\n"
                       "f 1 2 3\nf 1 2 4\n";
    std::string output;
    Mesh *mesh = load_capturing(dir.write("order.obj", text), 1, &output);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(output, dir.file("order.obj") +
                          "\nSkipping face on line 1: index outside the records read so far\n"
                          "Skipping face on line 7: index outside the records read so far\n");
    EXPECT_EQ(mesh->faces->count, 1u);
    mesh_destroy(mesh);
}

TEST(ObjLoad, MissingFilesFailWithTheirExactMessages) {
    TempDir dir;
    std::string output;
    std::string missing = dir.file("missing.obj");
    EXPECT_EQ(load_capturing(missing, 1, &output), nullptr);
    EXPECT_EQ(output, missing + "\nFailed\n");
    EXPECT_EQ(load_capturing(dir.path, 1, &output), nullptr);  // a directory is no model
    EXPECT_EQ(output, dir.path + "\nFailed\n");

    struct Case {
        const char *name;
        std::string obj;
        std::string want;  // after the path line
    };
    std::string no_mtl = dir.file("none.mtl"), no_pcx = dir.file("none.pcx");
    std::string bad_pcx = dir.write("bad.pcx", "not a picture");
    std::string truncated = dir.texture("short.pcx", 32, 32);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(read_whole_file(truncated, &bytes));
    bytes.resize(200);
    ASSERT_TRUE(write_whole_file(truncated, bytes));
    std::string good = dir.texture("good.pcx", 2, 2);
    const Case cases[] = {
        {"missing mtl", "v 1 1 1\nmtllib " + no_mtl + "\nv 2 2 2\n",
         "Loading mtllib '" + no_mtl + "'\nUnable to load mtllib\n"},
        {"missing texture", "mtllib " + dir.write("a.mtl", "map_Kd " + no_pcx + "\n") + "\n",
         "Loading mtllib '" + dir.file("a.mtl") + "'\nLoading texure '" + no_pcx + "'\nUnable to load mtllib\n"},
        {"not a pcx", "mtllib " + dir.write("b.mtl", "map_Kd " + bad_pcx + "\n") + "\n",
         "Loading mtllib '" + dir.file("b.mtl") + "'\nLoading texure '" + bad_pcx + "'\nUnable to load mtllib\n"},
        {"pcx ends early", "mtllib " + dir.write("c.mtl", "map_Kd " + good + "\nmap_Kd " + truncated + "\n") + "\n",
         "Loading mtllib '" + dir.file("c.mtl") + "'\nLoading texure '" + good + "'\nLoading texure '" +
             truncated + "'\nUnable to load mtllib\n"},
        {"map_Kd without name", "mtllib " + dir.write("d.mtl", "map_Kd\n") + "\n",
         "Loading mtllib '" + dir.file("d.mtl") + "'\nUnable to load mtllib\n"},
        {"mtllib without name", "v 1 1 1\nmtllib   \n", "Unable to load mtllib\n"},
        {"mtllib names a directory", "mtllib " + dir.path + "\n",
         "Loading mtllib '" + dir.path + "'\nUnable to load mtllib\n"},
    };
    for (const Case &c : cases) {
        std::string path = dir.write("case.obj", c.obj);
        EXPECT_EQ(load_capturing(path, 1, &output), nullptr) << c.name;
        EXPECT_EQ(output, path + "\n" + c.want) << c.name;
    }
    testing::internal::CaptureStdout();
    EXPECT_EQ(mtl_load(no_mtl.c_str()), nullptr);
    EXPECT_EQ(mtl_load(nullptr), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

// A model, a material or an image that is a directory, a device or a FIFO
// is refused at once with one line naming it and what it is; nothing
// blocks on the FIFO (which has no writer) or reads /dev/zero for ever.
// A regular file whose reads fail fails the load the same way, naming the
// system's reason, rather than loading what came before the failure.
TEST(ObjLoad, SpecialFilesAreRefusedWithoutBlocking) {
    TempDir dir;
    const std::vector<SpecialFile> specials = assets_special_files(dir.path);
    ASSERT_EQ(specials.size(), 3u);
    alarm(60);  // a load that blocks or spins ends the test program here
    for (const SpecialFile &special : specials) {
        std::string output;
        testing::internal::CaptureStderr();
        EXPECT_EQ(load_capturing(special.path, 1, &output), nullptr) << special.path;
        std::string errors = testing::internal::GetCapturedStderr();
        EXPECT_EQ(output, special.path + "\nFailed\n");
        EXPECT_EQ(errors, "OBJ: cannot open '" + special.path + "': " + special.what + "\n");

        std::string obj = dir.write("m.obj", "v 0 0 0\nmtllib " + special.path + "\nv 1 1 1\n");
        testing::internal::CaptureStderr();
        EXPECT_EQ(load_capturing(obj, 1, &output), nullptr) << special.path;
        errors = testing::internal::GetCapturedStderr();
        EXPECT_EQ(output, obj + "\nLoading mtllib '" + special.path + "'\nUnable to load mtllib\n");
        EXPECT_EQ(errors, "MTL: cannot open '" + special.path + "': " + special.what + "\n");

        std::string mtl = dir.write("i.mtl", "map_Kd " + special.path + "\n");
        obj = dir.write("i.obj", "mtllib " + mtl + "\n");
        testing::internal::CaptureStderr();
        EXPECT_EQ(load_capturing(obj, 1, &output), nullptr) << special.path;
        errors = testing::internal::GetCapturedStderr();
        EXPECT_EQ(output, obj + "\nLoading mtllib '" + mtl + "'\nLoading texure '" + special.path +
                              "'\nUnable to load mtllib\n");
        EXPECT_EQ(errors, "MTL: '" + mtl + "': cannot load the image '" + special.path + "': " +
                              special.what + "\n");
    }
    alarm(0);

    // The process's own memory reads as a regular file whose first read
    // fails (nothing is mapped at address 0).
    const std::string unreadable = "/proc/self/mem";
    std::string output;
    testing::internal::CaptureStderr();
    EXPECT_EQ(load_capturing(unreadable, 1, &output), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "OBJ: cannot read '/proc/self/mem': Input/output error\n");
    EXPECT_EQ(output, unreadable + "\nFailed\n");

    std::string obj = dir.write("m.obj", "v 0 0 0\nmtllib " + unreadable + "\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(load_capturing(obj, 1, &output), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "MTL: cannot read '/proc/self/mem': Input/output error\n");
    EXPECT_EQ(output, obj + "\nLoading mtllib '" + unreadable + "'\nUnable to load mtllib\n");

    std::string mtl = dir.write("i.mtl", "map_Kd " + unreadable + "\n");
    obj = dir.write("i.obj", "mtllib " + mtl + "\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(load_capturing(obj, 1, &output), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "MTL: '" + mtl + "': cannot load the image '/proc/self/mem': Input/output error\n");
}

TEST(ObjLoad, EveryFailedAllocationReleasesThePartlyBuiltMesh) {
    TempDir dir;
    std::string texture = dir.texture("t.pcx", 8, 8);
    std::string mtl = dir.write("m.mtl", "map_Kd " + texture + "\nmap_Kd " + texture + "\n");
    // Enough records to make every vector grow past its first 32 slots.
    std::string path = dir.write("grid.obj", obj_grid_model(6, 6, mtl));
    std::string output;
    long successes = 0;
    Mesh *mesh = nullptr;
    for (; successes < 10000 && mesh == nullptr; successes++) {
        alloc_fail_after(successes);
        testing::internal::CaptureStderr();
        mesh = load_capturing(path, 1, &output);
        std::string errors = testing::internal::GetCapturedStderr();
        alloc_fail_after(-1);
        if (mesh == nullptr) {
            // One line on standard error says why.
            EXPECT_TRUE(errors.rfind("OBJ: ", 0) == 0 || errors.rfind("MTL: ", 0) == 0) << errors;
            EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
            // Either the material or the mesh ran out; never half a message.
            EXPECT_TRUE(output.find("Unable to load mtllib") != std::string::npos ||
                        output.find("texure") != std::string::npos || output == path + "\n")
                << successes << " allocations";
        }
    }
    ASSERT_NE(mesh, nullptr);
    // At least one allocation per record (49 + 49 + 72), the mesh with its
    // vectors and list (8), the material and its two images (7).
    EXPECT_GE(successes, 185);
    EXPECT_EQ(mesh->vertices->count, 49u);
    EXPECT_EQ(mesh->texcoords->count, 49u);
    EXPECT_EQ(mesh->faces->count, 72u);
    mesh_destroy(mesh);
}

}  // namespace
