// Pictures as textures: PNG of every colour type and depth, interlaced or
// not, with tRNS, alpha and gamma, each pixel against the nearest engine
// colour of what the file says; raw indices; PNG and PCX told apart by
// content; damaged, truncated, oversized and special files refused with
// their reason and nothing leaked; sprites from pictures; and kevo-image
// as a person runs it.
#include <gtest/gtest.h>

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "assets/image.h"
#include "assets/pcx.h"
#include "gfx2d/framebuffer.h"
#include "gfx2d/palette.h"
#include "gfx2d/palette_map.h"
#include "gfx2d/sprite.h"
#include "support/assets_disk.h"
#include "support/assets_pcx_builder.h"
#include "support/assets_png_builder.h"
#include "support/platform_process.h"
#include "support/program_run.h"
#include "util/alloc.h"

namespace {

struct TempDir {
    std::string path = make_temp_dir("image");
    ~TempDir() { remove_tree(path); }
    std::string file(const std::string &name) const { return path + "/" + name; }
    std::string write(const std::string &name, const Bytes &bytes) const {
        EXPECT_TRUE(write_whole_file(file(name), bytes)) << name;
        return file(name);
    }
};

const PaletteMap *shared() { return palette_map_shared(); }

Bytes read_whole(const std::string &path) {
    Bytes bytes;
    read_whole_file(path, &bytes);
    return bytes;
}

uint8_t over_black(int value, int alpha) { return static_cast<uint8_t>((value * alpha + 127) / 255); }

// What a pixel of colour (r, g, b) at opacity `alpha` (0 .. 255) shows.
uint8_t shown(int r, int g, int b, int alpha, uint8_t key = 0) {
    if (alpha < 128) return key;
    return palette_map_nearest(shared(), over_black(r, alpha), over_black(g, alpha), over_black(b, alpha));
}

Bytes texture_pixels(const Texture *texture) {
    return Bytes(texture->pixels, texture->pixels + static_cast<size_t>(texture->width) * texture->height);
}

// Loads `path` with `options`; the pixels, or an empty vector with the
// reason in *why.
Bytes load(const std::string &path, const ImageOptions *options = nullptr, std::string *why = nullptr) {
    ImageWhy reason;
    Texture *texture = image_load_texture_why(path.c_str(), options, &reason);
    if (texture == nullptr) {
        if (why != nullptr) *why = reason.text;
        return {};
    }
    Bytes pixels = texture_pixels(texture);
    texture_destroy(texture);
    return pixels;
}

// A 13 x 7 picture (odd sizes: partial bytes and every Adam7 pass) whose
// pixel i has sample value (i * step + channel * 53) mod levels.
PngSpec picture(int color_type, int depth, bool interlaced) {
    PngSpec spec;
    spec.width = 13, spec.height = 7;
    spec.color_type = color_type, spec.bit_depth = depth, spec.interlaced = interlaced;
    const int channels = color_type == PNG_COLOR_TYPE_RGB ? 3 : color_type == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                         : color_type == PNG_COLOR_TYPE_RGB_ALPHA ? 4 : 1;
    const int levels = 1 << depth;
    for (int i = 0; i < spec.width * spec.height; i++)
        for (int c = 0; c < channels; c++) {
            int value = (i * 29 + c * 53) % levels;
            // 16-bit samples repeat their byte, so scaling to 8 bits gives it back.
            if (depth == 16) value = (value >> 8) * 257;
            spec.samples.push_back(static_cast<uint16_t>(value));
        }
    if (color_type == PNG_COLOR_TYPE_PALETTE)
        for (int e = 0; e < levels; e++) spec.palette.insert(spec.palette.end(), {static_cast<uint8_t>(e * 37 + 5),
                                                                                 static_cast<uint8_t>(200 - e * 11),
                                                                                 static_cast<uint8_t>(e * e)});
    return spec;
}

// A sample as 8 bits, as the reader scales it.
int eight_bits(int sample, int depth) { return depth == 16 ? sample >> 8 : sample * 255 / ((1 << depth) - 1); }

// What `spec` should show, pixel by pixel.
Bytes expected(const PngSpec &spec, uint8_t key = 0) {
    Bytes want;
    const int n = spec.width * spec.height;
    for (int i = 0; i < n; i++) {
        const uint16_t *s = &spec.samples[0];
        switch (spec.color_type) {
        case PNG_COLOR_TYPE_PALETTE: {
            const int e = s[i];
            const int alpha = e < static_cast<int>(spec.trns.size()) ? spec.trns[e] : 255;
            want.push_back(shown(spec.palette[3 * e], spec.palette[3 * e + 1], spec.palette[3 * e + 2], alpha, key));
            break;
        }
        case PNG_COLOR_TYPE_GRAY: {
            const int v = eight_bits(s[i], spec.bit_depth);
            const bool keyed = !spec.key.empty() && s[i] == spec.key[0];
            want.push_back(shown(v, v, v, keyed ? 0 : 255, key));
            break;
        }
        case PNG_COLOR_TYPE_GRAY_ALPHA: {
            const int v = eight_bits(s[2 * i], spec.bit_depth), a = eight_bits(s[2 * i + 1], spec.bit_depth);
            want.push_back(shown(v, v, v, a, key));
            break;
        }
        case PNG_COLOR_TYPE_RGB: {
            const bool keyed = !spec.key.empty() && s[3 * i] == spec.key[0] && s[3 * i + 1] == spec.key[1] &&
                               s[3 * i + 2] == spec.key[2];
            want.push_back(shown(eight_bits(s[3 * i], spec.bit_depth), eight_bits(s[3 * i + 1], spec.bit_depth),
                                 eight_bits(s[3 * i + 2], spec.bit_depth), keyed ? 0 : 255, key));
            break;
        }
        default:
            want.push_back(shown(eight_bits(s[4 * i], spec.bit_depth), eight_bits(s[4 * i + 1], spec.bit_depth),
                                 eight_bits(s[4 * i + 2], spec.bit_depth), eight_bits(s[4 * i + 3], spec.bit_depth),
                                 key));
        }
    }
    return want;
}

TEST(ImagePng, EveryColorTypeAndDepthInterlacedOrNot) {
    TempDir dir;
    const struct {
        int color_type;
        std::vector<int> depths;
    } kinds[] = {
        {PNG_COLOR_TYPE_PALETTE, {1, 2, 4, 8}},   {PNG_COLOR_TYPE_GRAY, {1, 2, 4, 8, 16}},
        {PNG_COLOR_TYPE_GRAY_ALPHA, {8, 16}},     {PNG_COLOR_TYPE_RGB, {8, 16}},
        {PNG_COLOR_TYPE_RGB_ALPHA, {8, 16}},
    };
    int files = 0;
    for (const auto &kind : kinds)
        for (int depth : kind.depths)
            for (bool interlaced : {false, true})
                for (bool transparent : {false, true}) {
                    PngSpec spec = picture(kind.color_type, depth, interlaced);
                    if (transparent && kind.color_type == PNG_COLOR_TYPE_PALETTE) {
                        spec.trns = {0, 127, 128, 255, 60};  // the first entries, as many as there are
                        spec.trns.resize(std::min<size_t>(spec.trns.size(), size_t{1} << depth));
                    }
                    else if (transparent && kind.color_type == PNG_COLOR_TYPE_GRAY)
                        spec.key = {spec.samples[3]};
                    else if (transparent && kind.color_type == PNG_COLOR_TYPE_RGB)
                        spec.key = {spec.samples[9], spec.samples[10], spec.samples[11]};
                    else if (transparent)
                        continue;  // alpha types are transparent already
                    const std::string label = "type " + std::to_string(kind.color_type) + ", " +
                                              std::to_string(depth) + " bits" + (interlaced ? ", interlaced" : "") +
                                              (transparent ? ", tRNS" : "");
                    const std::string path = dir.write("p.png", png_build(spec));
                    std::string why;
                    EXPECT_EQ(load(path, nullptr, &why), expected(spec)) << label << " " << why;
                    ImageOptions keyed = IMAGE_OPTIONS_DEFAULT;
                    keyed.key_index = 77;
                    EXPECT_EQ(load(path, &keyed), expected(spec, 77)) << label << ", key 77";
                    files++;
                }
    EXPECT_EQ(files, 2 * (4 + 5 + 2 + 2 + 2) + 2 * (4 + 5 + 2));
}

// Raw keeps a palette picture's indices and a grey picture's levels (keyed
// pixels still take the key); an RGB picture has none to keep.
TEST(ImagePng, RawKeepsIndicesAndLevels) {
    TempDir dir;
    PngSpec indexed = picture(PNG_COLOR_TYPE_PALETTE, 4, false);
    indexed.trns = {255, 255, 0};
    ImageOptions raw = IMAGE_OPTIONS_DEFAULT;
    raw.raw = true;
    raw.key_index = 200;
    Bytes want;
    for (uint16_t s : indexed.samples) want.push_back(s == 2 ? 200 : static_cast<uint8_t>(s));
    EXPECT_EQ(load(dir.write("i.png", png_build(indexed)), &raw), want);
    PngSpec grey = picture(PNG_COLOR_TYPE_GRAY, 16, true);
    want.clear();
    for (uint16_t s : grey.samples) want.push_back(static_cast<uint8_t>(s >> 8));
    EXPECT_EQ(load(dir.write("g.png", png_build(grey)), &raw), want);
    std::string why;
    EXPECT_TRUE(load(dir.write("c.png", png_build(picture(PNG_COLOR_TYPE_RGB, 8, false))), &raw, &why).empty());
    EXPECT_EQ(why, "is a true-colour picture: it has no indices to keep raw");
}

// A file that says its samples are linear light (gAMA 1.0) is shown
// brighter, as an sRGB screen needs; the same file without gAMA as it is.
TEST(ImagePng, GammaAsTheFileSays) {
    TempDir dir;
    PngSpec spec;
    spec.width = spec.height = 2;
    spec.color_type = PNG_COLOR_TYPE_RGB;
    for (int i = 0; i < 4; i++) spec.samples.insert(spec.samples.end(), {128, 128, 128});
    const uint8_t plain = palette_map_nearest(shared(), 128, 128, 128);
    EXPECT_EQ(load(dir.write("plain.png", png_build(spec))), Bytes(4, plain));
    spec.gamma = 1.0;
    const Bytes linear = load(dir.write("linear.png", png_build(spec)));
    ASSERT_EQ(linear.size(), 4u);
    // 128 / 255 of linear light is about 186 in sRGB.
    const int srgb = static_cast<int>(std::lround(255 * (1.055 * std::pow(128 / 255.0, 1 / 2.4) - 0.055)));
    EXPECT_NEAR(srgb, 188, 2);
    bool near = false;
    for (int v = srgb - 4; v <= srgb + 4; v++) near |= linear[0] == palette_map_nearest(shared(), v, v, v);
    EXPECT_TRUE(near) << int(linear[0]);
    EXPECT_NE(linear[0], plain);
}

// The engine's own PNG (image_save_png) and PCX (pcx_save) keep their
// indices; the reader goes by content, whatever the name.
TEST(ImageRead, EnginePicturesKeepIndicesWhateverTheirNames) {
    TempDir dir;
    Bytes pixels;
    for (int i = 0; i < 40 * 20; i++) pixels.push_back(static_cast<uint8_t>((i * 13) % 256));
    const std::string png = dir.file("engine.pcx");  // a PNG under a PCX name
    ASSERT_EQ(image_save_png(png.c_str(), 40, 20, pixels.data()), 0);
    EXPECT_EQ(load(png), pixels);
    Bytes palette;
    for (uint32_t color : Palette)
        for (int shift : {24, 16, 8}) palette.push_back(static_cast<uint8_t>(color >> shift));
    const std::string pcx = dir.file("engine.png");  // and a PCX under a PNG name
    ASSERT_EQ(pcx_save(pcx.c_str(), 40, 20, pixels.data(), palette.data()), 0);
    EXPECT_EQ(load(pcx), pixels);
    for (PaletteDither dither : {PALETTE_DITHER_ORDERED, PALETTE_DITHER_DIFFUSION}) {
        ImageOptions options = IMAGE_OPTIONS_DEFAULT;
        options.dither = dither;
        EXPECT_EQ(load(png, &options), pixels) << "engine colours are never dithered";
    }
    // A true-colour PCX goes through the same mapping.
    Bytes rgb = pcx_small_24bit_pixels();
    Bytes want;
    for (size_t i = 0; i < rgb.size(); i += 3) want.push_back(palette_map_nearest(shared(), rgb[i], rgb[i + 1], rgb[i + 2]));
    EXPECT_EQ(load(dir.write("true.pcx", pcx_small_24bit_file())), want);
    std::string why;
    EXPECT_TRUE(load(dir.write("text.png", Bytes{'h', 'e', 'l', 'l', 'o'}), nullptr, &why).empty());
    EXPECT_EQ(why, "is neither a PNG nor a PCX image");
    EXPECT_TRUE(load(dir.write("empty.png", Bytes{}), nullptr, &why).empty());
    EXPECT_EQ(why, "is empty");
    EXPECT_EQ(image_save_png(dir.file("none/x.png").c_str(), 1, 1, pixels.data()), -1);
    EXPECT_EQ(image_save_png(dir.file("big.png").c_str(), 4097, 1, pixels.data()), -1);
}

// Damaged files: each says what libpng found, truncation anywhere is
// refused (never a crash or a leak: the sanitizer build runs this), a
// size beyond the limit or beyond what the file's bytes could inflate to
// is refused before anything is allocated for it, special files are
// refused without blocking, and a failed allocation leaks nothing.
TEST(ImagePng, DamagedTruncatedOversizedAndSpecialFilesAreRefused) {
    TempDir dir;
    PngSpec spec = picture(PNG_COLOR_TYPE_RGB_ALPHA, 8, true);
    const Bytes whole = png_build(spec);
    ASSERT_FALSE(whole.empty());
    std::string why;
    EXPECT_TRUE(load(dir.write("crc.png", png_break_crc(whole, "IDAT")), nullptr, &why).empty());
    EXPECT_EQ(why, "is a damaged PNG image: IDAT: CRC error");
    EXPECT_TRUE(load(dir.write("hdr.png", png_break_crc(whole, "IHDR")), nullptr, &why).empty());
    EXPECT_EQ(why, "is a damaged PNG image: IHDR: CRC error");
    for (size_t length = 8; length < whole.size(); length++) {
        const Bytes cut(whole.begin(), whole.begin() + static_cast<long>(length));
        const Bytes got = load(dir.write("cut.png", cut), nullptr, &why);
        // Everything up to the image's last row is needed; what follows it
        // (the end of the last IDAT, IEND) is not read.
        if (got.empty()) EXPECT_FALSE(why.empty()) << length;
        else EXPECT_EQ(got, expected(spec)) << "cut at " << length;
    }
    EXPECT_TRUE(load(dir.write("cut.png", Bytes(whole.begin(), whole.begin() + 60)), nullptr, &why).empty());
    EXPECT_EQ(why, "ends early, inside its PNG data");
    // Compressed data that runs on past the last row (256 KiB of it,
    // inflating to about 40 MiB, with no end) is not inflated: the picture
    // is whole at its last row, and nothing after its chunk is read.
    const PngSpec grey = picture(PNG_COLOR_TYPE_GRAY, 8, false);
    EXPECT_EQ(load(dir.write("runs_on.png", png_with_trailing_data(grey, 256 << 10)), nullptr, &why), expected(grey))
        << why;

    // 4096 x 4096 claimed by a file of a few hundred bytes; 4097 wide.
    PngSpec big;
    big.width = 4096, big.height = 4096;
    big.samples.assign(static_cast<size_t>(4096) * 4096, 0);
    Bytes huge = png_build(big);
    ASSERT_FALSE(huge.empty());
    EXPECT_EQ(load(dir.write("huge.png", huge)).size(), static_cast<size_t>(4096) * 4096) << "the limit loads";
    const Bytes head(huge.begin(), huge.begin() + 33 + 100);  // signature, IHDR, a little data
    EXPECT_TRUE(load(dir.write("claims.png", head), nullptr, &why).empty());
    EXPECT_EQ(why, "claims 4096 x 4096 pixels, more than its 133 bytes can hold");
    PngSpec wide;
    wide.width = 4097, wide.height = 1;
    wide.samples.assign(4097, 0);
    EXPECT_TRUE(load(dir.write("wide.png", png_build(wide)), nullptr, &why).empty());
    EXPECT_EQ(why, "is 4097 x 1 pixels; at most 4096 x 4096 are read");

    alarm(60);
    for (const SpecialFile &special : assets_special_files(dir.path)) {
        EXPECT_TRUE(load(special.path, nullptr, &why).empty()) << special.path;
        EXPECT_EQ(why, special.what);
        ImageWhy reason;
        EXPECT_EQ(image_read_png(special.path.c_str(), &reason), nullptr);
        EXPECT_STREQ(reason.text, special.what);
    }
    alarm(0);

    const std::string path = dir.write("p.png", whole);
    long successes = 0;
    for (;; successes++) {
        alloc_fail_after(successes);
        ImageWhy reason;
        Texture *texture = image_load_texture_why(path.c_str(), nullptr, &reason);
        alloc_fail_after(-1);
        if (texture != nullptr) {
            EXPECT_EQ(texture_pixels(texture), expected(spec));
            texture_destroy(texture);
            break;
        }
        EXPECT_STREQ(reason.text, "out of memory") << successes;
        ASSERT_LT(successes, 20);
    }
    EXPECT_GE(successes, 5) << "the picture, its rows, row pointers, pixels, alpha, texture, mapping";
}

// A logo reaches the screen in two calls, its pixels owned by the sprite.
TEST(ImageSprite, APictureBecomesASpriteThatOwnsItsPixels) {
    TempDir dir;
    Bytes pixels;
    for (int i = 0; i < 6 * 3; i++) pixels.push_back(static_cast<uint8_t>(i + 40));
    const std::string path = dir.file("logo.png");
    ASSERT_EQ(image_save_png(path.c_str(), 6, 3, pixels.data()), 0);
    fb_attach_storage();
    fb_clear();
    Sprite *logo = image_load_sprite(path.c_str(), nullptr, nullptr);
    ASSERT_NE(logo, nullptr);
    EXPECT_TRUE(logo->owns_pixels);
    sprite_set_position(logo, 10, 20);
    sprite_draw(logo);
    for (int y = 0; y < 3; y++)
        for (int x = 0; x < 6; x++) EXPECT_EQ(fb_pixels[(20 + y) * fb_width + 10 + x], pixels[y * 6 + x]);
    sprite_free(logo);
    ImageWhy why;
    EXPECT_EQ(image_load_sprite(dir.file("none.png").c_str(), nullptr, &why), nullptr);
    EXPECT_STREQ(why.text, "No such file or directory");
    EXPECT_EQ(sprite_new_taking(1, 1, nullptr), nullptr);
}

// kevo-image as a person runs it: a PNG to a PCX in the engine's palette
// that loads back to the same indices, a preview that shows them, each
// dithering, and one line and the right status for every mistake.
TEST(ImageTool, ConvertsPreviewsAndRefuses) {
    TempDir dir;
    const std::string tool = std::string(ENGINE_BINARY_DIR) + "/kevo_image";
    PngSpec spec = picture(PNG_COLOR_TYPE_RGB_ALPHA, 8, false);
    const std::string in = dir.write("in.png", png_build(spec));
    ProcessResult run = run_program(tool, {in, dir.file("out.pcx"), "--preview", dir.file("out.png")}, {}, nullptr,
                                    -1, 0);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, in + ": 13 x 7, true colour with transparency -> " + dir.file("out.pcx") + ", " +
                           dir.file("out.png") + "\n");
    EXPECT_EQ(load(dir.file("out.pcx")), expected(spec));
    EXPECT_EQ(load(dir.file("out.png")), expected(spec));
    PngSpec one = picture(PNG_COLOR_TYPE_PALETTE, 1, false);
    one.palette.resize(3);
    std::fill(one.samples.begin(), one.samples.end(), 0);
    run = run_program(tool, {dir.write("one.png", png_build(one)), dir.file("one.pcx")}, {}, nullptr, -1, 0);
    EXPECT_EQ(run.out, dir.file("one.png") + ": 13 x 7, 1 colour -> " + dir.file("one.pcx") + "\n");

    // A write that fails leaves the file it would replace as it was, and no
    // other file: past a file-size limit (a signal would end the tool
    // without a word) and on a full disk, each with the reason of the write
    // that failed. The PCX's 769-byte palette alone goes past the limit.
    const Bytes old_pcx = read_whole(dir.file("out.pcx"));
    const std::vector<std::string> before = directory_names(dir.path);
    run = run_program("/bin/sh", {"-c", "exec prlimit --fsize=500 \"$@\"", "sh", tool, "one.png", "out.pcx"}, {},
                      dir.path.c_str(), -1, 0);
    EXPECT_TRUE(run.exited && run.status == 1) << run.status;
    EXPECT_EQ(run.err, "PCX: cannot save 'out.pcx': File too large\n");
    EXPECT_EQ(read_whole(dir.file("out.pcx")), old_pcx);
    EXPECT_EQ(directory_names(dir.path), before);
    for (const char *dither : {"ordered", "diffusion"}) {
        run = run_program(tool, {"--dither", dither, in, dir.file("d.pcx")}, {}, nullptr, -1, 0);
        EXPECT_EQ(run.status, 0) << run.err;
        ImageOptions options = IMAGE_OPTIONS_DEFAULT;
        options.dither = dither[0] == 'o' ? PALETTE_DITHER_ORDERED : PALETTE_DITHER_DIFFUSION;
        EXPECT_EQ(load(dir.file("d.pcx")), load(in, &options)) << dither;
    }
    run = run_program(tool, {in, "--key", "9", "--raw", dir.file("r.pcx")}, {}, nullptr, -1, 0);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "kevo-image: cannot convert '" + in + "': is a true-colour picture: it has no indices to keep raw\n");
    run = run_program(tool, {"--help"}, {}, nullptr, -1, 0);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.rfind("usage: kevo-image IN [OUT.pcx]", 0), 0u);
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;
    } wrong[] = {
        {{}, 2, "kevo-image: no input picture (kevo-image --help shows the usage)\n"},
        {{in}, 2, "kevo-image: no output: give OUT.pcx or --preview OUT.png for '" + in +
                      "' (kevo-image --help shows the usage)\n"},
        {{in, "a.pcx", "--dither", "lots"}, 2, "kevo-image: no such dithering: 'lots' (kevo-image --help shows the usage)\n"},
        {{in, "a.pcx", "--key", "256"}, 2,
         "kevo-image: the key index must be 0 .. 255, not '256' (kevo-image --help shows the usage)\n"},
        {{in, "a.pcx", "--bogus"}, 2, "kevo-image: no such option: '--bogus' (kevo-image --help shows the usage)\n"},
        {{in, "a.pcx", "b.pcx"}, 2, "kevo-image: one argument too many: 'b.pcx' (kevo-image --help shows the usage)\n"},
        {{in, "--preview"}, 2, "kevo-image: a value is missing after '--preview' (kevo-image --help shows the usage)\n"},
        {{dir.file("none.png"), "a.pcx"}, 1,
         "kevo-image: cannot read '" + dir.file("none.png") + "': No such file or directory\n"},
        {{in, dir.file("no/a.pcx")}, 1, "PCX: cannot save '" + dir.file("no/a.pcx") + "': No such file or directory\n"},
        {{in, "/dev/full"}, 1, "PCX: cannot save '/dev/full': No space left on device\n"},
        {{in, "--preview", "/dev/full"}, 1, "IMAGE: cannot save '/dev/full': No space left on device\n"},
        // The input itself, by any name, is never written over.
        {{in, "in.png"}, 2, "kevo-image: 'in.png' is the input picture '" + in + "': not overwriting it\n"},
        {{in, "x.pcx", "--preview", "in-link.png"}, 2,
         "kevo-image: 'in-link.png' is the input picture '" + in + "': not overwriting it\n"},
    };
    ASSERT_EQ(symlink("in.png", dir.file("in-link.png").c_str()), 0);
    const Bytes in_bytes = read_whole(in);
    for (const auto &w : wrong) {
        run = run_program(tool, w.args, {}, dir.path.c_str(), -1, 0);
        EXPECT_EQ(run.status, w.status) << w.err;
        EXPECT_EQ(run.err, w.err);
        EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(read_whole(in), in_bytes);
}

}  // namespace
