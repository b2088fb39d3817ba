// PCX loader and writer: hand-made run-length cases, every refusal rule,
// truncation at every byte, agreement with netpbm and ImageMagick as
// independent encoders and decoders, and textures in the file's own
// colours (through the engine's palette) or, raw, in its indices.
#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <string>
#include <unistd.h>

#include "assets/image.h"
#include "assets/pcx.h"
#include "gfx2d/palette.h"
#include "gfx2d/palette_map.h"
#include "support/assets_disk.h"
#include "support/platform_process.h"
#include "support/assets_pcx_builder.h"
#include "support/platform_tools.h"
#include "util/alloc.h"

namespace {

// A temporary directory for one test, removed at its end.
struct TempDir {
    std::string path = make_temp_dir("pcx");
    ~TempDir() { remove_tree(path); }
    std::string file(const std::string &name) const { return path + "/" + name; }
};

// What loading a file through open, decode and close gave.
struct Loaded {
    bool opened = false;
    int decoded = -2;     // pcx_decode's result when opened
    int bits = 0, planes = 0, width = 0, height = 0;
    Bytes pixels;
    Bytes palette;
};

Loaded load(const std::string &path) {
    Loaded result;
    PcxImage *image = pcx_open(path.c_str());
    if (image == nullptr) return result;
    result.opened = true;
    result.decoded = pcx_decode(image);
    EXPECT_EQ(pcx_close(image), 0);
    result.bits = image->bits_per_pixel;
    result.planes = image->planes;
    result.width = image->width;
    result.height = image->height;
    result.pixels.assign(image->pixels, image->pixels + static_cast<size_t>(image->width) * image->height *
                                                            pcx_bytes_per_pixel(image));
    result.palette.assign(image->palette, image->palette + PCX_PALETTE_BYTES);
    engine_free(image->pixels);
    pcx_free(image);
    return result;
}

Loaded load_bytes(const TempDir &dir, const Bytes &bytes) {
    std::string path = dir.file("case.pcx");
    EXPECT_TRUE(write_whole_file(path, bytes));
    return load(path);
}

Bytes pixels_of(std::initializer_list<int> values) {
    Bytes out;
    for (int v : values) out.push_back(static_cast<uint8_t>(v));
    return out;
}

TEST(PcxRunLength, HandMadeLinesDecodeAsTheFormatSays) {
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());

    // 0xC5 0x12 is five pixels of 0x12; 0xC1 0xC7 is one pixel of 0xC7;
    // a lone 0xBF is one pixel of 0xBF; a zero-length run writes nothing.
    Loaded run = load_bytes(dir, pcx_file(pcx_fields(8, 1, 8, 1),
                                          {0xC5, 0x12, 0xC1, 0xC7, 0xC0, 0x44, 0xBF, 0x07}, {}));
    ASSERT_TRUE(run.opened);
    EXPECT_EQ(run.decoded, 0);
    EXPECT_EQ(run.pixels, pixels_of({0x12, 0x12, 0x12, 0x12, 0x12, 0xC7, 0xBF, 0x07}));

    // An 8-bit image 3 pixels wide whose header gives no line length reads 3
    // encoded bytes per line; a run past the line's end is cut there and
    // the next line starts with a fresh byte.
    PcxHeaderFields three = pcx_fields(8, 1, 3, 3);
    three.bytes_per_line = 0;
    Loaded cut = load_bytes(dir, pcx_file(three, {0x01, 0x02, 0x03, 0xC5, 0x07, 0x04, 0x05, 0x06}, {}));
    ASSERT_TRUE(cut.opened);
    EXPECT_EQ(cut.decoded, 0);
    EXPECT_EQ(cut.pixels, pixels_of({1, 2, 3, 7, 7, 7, 4, 5, 6}));

    // The same image from an encoder that pads lines to an even length: the
    // header's 4 bytes per line are honoured and the pad byte dropped.
    three.bytes_per_line = 4;
    Loaded padded = load_bytes(dir, pcx_file(three, {0x01, 0x02, 0x03, 0x63, 0xC4, 0x07,
                                                     0x04, 0x05, 0x06, 0x00}, {}));
    ASSERT_TRUE(padded.opened);
    EXPECT_EQ(padded.decoded, 0);
    EXPECT_EQ(padded.pixels, pixels_of({1, 2, 3, 7, 7, 7, 4, 5, 6}));

    // 1 bit, 5 pixels wide: one byte per line, only its top 5 bits count.
    Loaded mono = load_bytes(dir, pcx_file(pcx_fields(1, 1, 5, 2), {0xB7, 0x4F}, {}));
    ASSERT_TRUE(mono.opened);
    EXPECT_EQ(mono.decoded, 0);
    EXPECT_EQ(mono.pixels, pixels_of({1, 0, 1, 1, 0, 0, 1, 0, 0, 1}));

    // 2 bits: leftmost pixel in the top two bits. 4 bits: left pixel in the
    // high nibble; the padding nibble of the odd width is ignored.
    Loaded two = load_bytes(dir, pcx_file(pcx_fields(2, 1, 5, 1), {0x1B, 0xC1, 0xFF}, {}));
    ASSERT_TRUE(two.opened);
    EXPECT_EQ(two.decoded, 0);
    EXPECT_EQ(two.pixels, pixels_of({0, 1, 2, 3, 3}));
    Loaded four = load_bytes(dir, pcx_file(pcx_fields(4, 1, 3, 1), {0x3A, 0x5F}, {}));
    ASSERT_TRUE(four.opened);
    EXPECT_EQ(four.decoded, 0);
    EXPECT_EQ(four.pixels, pixels_of({3, 10, 5}));

    // 4 planes of 1 bit, 16 wide: 2 bytes per plane line, plane p gives
    // bit p of each index.
    Loaded planar16 = load_bytes(dir, pcx_file(pcx_fields(1, 4, 16, 1),
                                               {0x80, 0x01, 0xC1, 0xC0, 0x00, 0xC2, 0xFF, 0x00, 0x01},
                                               {}));
    ASSERT_TRUE(planar16.opened);
    EXPECT_EQ(planar16.decoded, 0);
    EXPECT_EQ(planar16.pixels, pixels_of({7, 6, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 13}));

    // A larger hand-made 4-plane image with set padding bits, and an 8-bit
    // one covering every run rule, each against its known pixels.
    Loaded planar = load_bytes(dir, pcx_small_planar_file());
    ASSERT_TRUE(planar.opened);
    EXPECT_EQ(planar.decoded, 0);
    EXPECT_EQ(planar.bits, 1);
    EXPECT_EQ(planar.planes, 4);
    EXPECT_EQ(planar.pixels, pcx_small_planar_pixels());
    Loaded small = load_bytes(dir, pcx_small_8bit_file());
    ASSERT_TRUE(small.opened);
    EXPECT_EQ(small.decoded, 0);
    EXPECT_EQ(small.width, 6);
    EXPECT_EQ(small.height, 4);
    EXPECT_EQ(small.pixels, pcx_small_8bit_pixels());
}

TEST(PcxPalette, TrailingPaletteReplacesHeaderPaletteOtherwiseZeros) {
    TempDir dir;
    // With the marker and 768 bytes: the trailing palette, all of it.
    Loaded with = load_bytes(dir, pcx_small_8bit_file());
    ASSERT_TRUE(with.opened);
    EXPECT_EQ(with.palette, pcx_ramp_palette());

    // Without: the 48 header bytes, then zeros.
    Loaded without = load_bytes(dir, pcx_small_planar_file());
    ASSERT_TRUE(without.opened);
    EXPECT_EQ(without.decoded, 0);
    for (int i = 0; i < 16; i++) {
        EXPECT_EQ(without.palette[3 * i], i * 16);
        EXPECT_EQ(without.palette[3 * i + 1], 255 - i * 16);
        EXPECT_EQ(without.palette[3 * i + 2], i);
    }
    for (int i = 48; i < PCX_PALETTE_BYTES; i++) ASSERT_EQ(without.palette[i], 0) << "byte " << i;

    // A byte after the data that is not the marker is no palette.
    Bytes not_marker = pcx_small_planar_file();
    not_marker.push_back(0x0B);
    not_marker.insert(not_marker.end(), 768, 0x77);
    Loaded other = load_bytes(dir, not_marker);
    ASSERT_TRUE(other.opened);
    EXPECT_EQ(other.decoded, 0);
    EXPECT_EQ(other.palette, without.palette);

    // Bytes an encoder left between the data and the palette: the marked
    // palette at the end of the file is found all the same.
    Bytes gapped = pcx_small_8bit_file();
    gapped.insert(gapped.begin() + static_cast<long>(pcx_small_8bit_data_end()), {0x01, 0x02});
    Loaded gap = load_bytes(dir, gapped);
    ASSERT_TRUE(gap.opened);
    EXPECT_EQ(gap.decoded, 0);
    EXPECT_EQ(gap.pixels, pcx_small_8bit_pixels());
    EXPECT_EQ(gap.palette, pcx_ramp_palette());

    // A byte appended after a palette that follows the data: the last 769
    // bytes do not start with the marker, so the palette after the data
    // counts.
    Bytes appended = pcx_small_8bit_file();
    appended.push_back(0x0C);
    Loaded after = load_bytes(dir, appended);
    EXPECT_EQ(after.decoded, 0);
    EXPECT_EQ(after.palette, pcx_ramp_palette());

    // 769 bytes or more after the data with no marker at either place: no
    // palette; with the marker only right after the data but the file cut
    // 10 bytes later, the palette is truncated.
    Bytes unmarked = pcx_small_planar_file();
    unmarked.insert(unmarked.end(), 800, 0x0B);
    Loaded none = load_bytes(dir, unmarked);
    EXPECT_EQ(none.decoded, 0);
    EXPECT_EQ(none.palette, without.palette);
    Bytes cut = pcx_small_8bit_file();
    cut.resize(pcx_small_8bit_data_end() + 11);
    Loaded truncated = load_bytes(dir, cut);
    EXPECT_EQ(truncated.decoded, -1);
    Bytes ramp = pcx_ramp_palette();
    EXPECT_EQ(Bytes(truncated.palette.begin(), truncated.palette.begin() + 10), Bytes(ramp.begin(), ramp.begin() + 10));
}

TEST(PcxOpen, RefusesEveryMeaninglessHeaderAndAcceptsTheLimits) {
    TempDir dir;
    for (const NamedBytes &file : pcx_refused_files()) {
        Loaded result = load_bytes(dir, file.bytes);
        EXPECT_FALSE(result.opened) << file.name;
        // Each refusal says why.
        const char *why = nullptr;
        EXPECT_EQ(pcx_open_why(dir.file("case.pcx").c_str(), &why), nullptr);
        ASSERT_NE(why, nullptr) << file.name;
        EXPECT_GT(strlen(why), 8u) << file.name;
    }
    EXPECT_EQ(pcx_open(dir.file("missing.pcx").c_str()), nullptr);
    EXPECT_EQ(pcx_open(dir.path.c_str()), nullptr);  // a directory reads nothing
    EXPECT_EQ(pcx_open(nullptr), nullptr);

    // Accepted: each single-plane depth, 1 .. 8 planes of 1 bit, offset
    // origins, 1 x 1 and the full 4096 x 4096 (decoding stops at the early
    // end of file with -1 there).
    for (int bits : {1, 2, 4, 8}) {
        Loaded ok = load_bytes(dir, pcx_header(pcx_fields(bits, 1, 1, 1)));
        EXPECT_TRUE(ok.opened) << bits << " bits";
        EXPECT_EQ(ok.decoded, -1) << bits << " bits, no data";
    }
    for (int planes = 1; planes <= 8; planes++) {
        Loaded ok = load_bytes(dir, pcx_header(pcx_fields(1, planes, 9, 1)));
        EXPECT_TRUE(ok.opened) << planes << " planes";
    }
    // True colour: 3 planes of 8 bits, an RGB triple a pixel, plane p
    // channel p; the padding byte of each plane line dropped.
    Loaded true_color = load_bytes(dir, pcx_small_24bit_file());
    ASSERT_TRUE(true_color.opened);
    EXPECT_EQ(true_color.decoded, 0);
    EXPECT_EQ(true_color.planes, 3);
    EXPECT_EQ(true_color.pixels, pcx_small_24bit_pixels());
    PcxHeaderFields offset = pcx_fields(8, 1, 1, 1);
    offset.xmin = -5;
    offset.xmax = 4;
    offset.ymin = 100;
    offset.ymax = 101;
    Loaded shifted = load_bytes(dir, pcx_header(offset));
    ASSERT_TRUE(shifted.opened);
    EXPECT_EQ(shifted.width, 10);
    EXPECT_EQ(shifted.height, 2);
    Loaded largest = load_bytes(dir, pcx_header(pcx_fields(8, 1, 4096, 4096)));
    ASSERT_TRUE(largest.opened);
    EXPECT_EQ(largest.width, 4096);
    EXPECT_EQ(largest.height, 4096);
    EXPECT_EQ(largest.decoded, -1);
}

// Only regular files are read: a directory, a device and a FIFO (which has
// no writer) are refused at once, saying what they are; a file that cannot
// be opened or read gives the system's reason.
TEST(PcxOpen, SpecialFilesAreRefusedWithoutBlocking) {
    TempDir dir;
    std::vector<SpecialFile> specials = assets_special_files(dir.path);
    ASSERT_EQ(specials.size(), 3u);
    specials.push_back({dir.file("missing.pcx"), "No such file or directory"});
    // A regular file whose first read fails: the process's own memory at
    // address 0, where nothing is mapped.
    specials.push_back({"/proc/self/mem", "Input/output error"});
    alarm(60);  // an open or decode that blocks ends the test program here
    for (const SpecialFile &special : specials) {
        const char *why = nullptr;
        EXPECT_EQ(pcx_open_why(special.path.c_str(), &why), nullptr) << special.path;
        EXPECT_STREQ(why, special.what);
        why = nullptr;
        EXPECT_EQ(pcx_load_texture_why(special.path.c_str(), &why), nullptr) << special.path;
        EXPECT_STREQ(why, special.what);
        EXPECT_EQ(pcx_open(special.path.c_str()), nullptr) << special.path;
    }
    alarm(0);
}

TEST(PcxOpen, CallOrderAndNullRecords) {
    TempDir dir;
    std::string path = dir.file("small.pcx");
    ASSERT_TRUE(write_whole_file(path, pcx_small_8bit_file()));
    PcxImage *image = pcx_open(path.c_str());
    ASSERT_NE(image, nullptr);
    EXPECT_GE(image->fd, 0);
    EXPECT_EQ(pcx_close(image), 0);
    EXPECT_EQ(image->fd, -1);
    EXPECT_EQ(pcx_close(image), -1);   // second close
    EXPECT_EQ(pcx_decode(image), -1);  // decode after close
    for (size_t i = 0; i < 24; i++) EXPECT_EQ(image->pixels[i], 0) << "pixel " << i;
    engine_free(image->pixels);
    pcx_free(image);
    EXPECT_EQ(pcx_close(nullptr), 0);
    EXPECT_EQ(pcx_decode(nullptr), -1);
    pcx_free(nullptr);
}

TEST(PcxOpen, AllocationFailuresReturnNullAndLeakNothing) {
    TempDir dir;
    std::string path = dir.file("small.pcx");
    ASSERT_TRUE(write_whole_file(path, pcx_small_8bit_file()));
    // pcx_open makes 2 allocations, pcx_load_texture 5 (the picture, the
    // file's record and pixels, the texture and its pixels).
    for (long successes = 0; successes < 2; successes++) {
        alloc_fail_after(successes);
        EXPECT_EQ(pcx_open(path.c_str()), nullptr) << successes;
        alloc_fail_after(-1);
    }
    for (long successes = 0; successes < 5; successes++) {
        alloc_fail_after(successes);
        const char *why = nullptr;
        EXPECT_EQ(pcx_load_texture_why(path.c_str(), &why), nullptr) << successes;
        EXPECT_STREQ(why, "out of memory");
        alloc_fail_after(-1);
    }
    // The file's colours kept: each index shows its palette entry's
    // nearest engine colour.
    Texture *texture = pcx_load_texture(path.c_str());
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(texture->width, 6);
    EXPECT_EQ(texture->height, 4);
    uint8_t mapped[256];
    palette_map_entries(palette_map_shared(), pcx_ramp_palette().data(), 256, mapped);
    Bytes want;
    for (uint8_t index : pcx_small_8bit_pixels()) want.push_back(mapped[index]);
    EXPECT_EQ(Bytes(texture->pixels, texture->pixels + 24), want);
    texture_destroy(texture);
    texture_destroy(nullptr);
    // A file that fails to decode yields no texture.
    Bytes truncated = pcx_small_8bit_file();
    truncated.resize(pcx_small_8bit_data_end() - 1);
    ASSERT_TRUE(write_whole_file(path, truncated));
    EXPECT_EQ(pcx_load_texture(path.c_str()), nullptr);
}

// Checks decoding of `whole` cut at every length: no open below the header;
// -1 inside the data; 0 exactly at its end (no palette); -1 inside the
// palette. What was decoded is always part of the full image: no pixel has
// an index bit the full decode does not have.
void check_truncations(const TempDir &dir, const Bytes &whole, size_t data_end, const char *label) {
    Loaded full = load_bytes(dir, whole);
    ASSERT_TRUE(full.opened) << label;
    ASSERT_EQ(full.decoded, 0) << label;
    for (size_t length = 0; length < whole.size(); length++) {
        Loaded cut = load_bytes(dir, Bytes(whole.begin(), whole.begin() + length));
        if (length < static_cast<size_t>(PCX_HEADER_BYTES)) {
            EXPECT_FALSE(cut.opened) << label << " cut at " << length;
            continue;
        }
        ASSERT_TRUE(cut.opened) << label << " cut at " << length;
        int expected = length == data_end ? 0 : -1;
        EXPECT_EQ(cut.decoded, expected) << label << " cut at " << length;
        for (size_t i = 0; i < full.pixels.size(); i++) {
            ASSERT_EQ(cut.pixels[i] & ~full.pixels[i], 0)
                << label << " cut at " << length << ", pixel " << i;
        }
        if (length > data_end) {
            // Palette bytes the cut file did not provide are 0.
            size_t provided = length - data_end - 1;
            for (size_t i = 0; i < static_cast<size_t>(PCX_PALETTE_BYTES); i++) {
                uint8_t want = i < provided ? full.palette[i] : 0;
                ASSERT_EQ(cut.palette[i], want) << label << " cut at " << length << ", palette " << i;
            }
        }
    }
}

TEST(PcxDecode, TruncationAtEveryByteStopsWithoutGarbage) {
    TempDir dir;
    check_truncations(dir, pcx_small_8bit_file(), pcx_small_8bit_data_end(), "8-bit");
    Bytes planar = pcx_small_planar_file();
    check_truncations(dir, planar, planar.size(), "planar");
}

// --- Independent encoders and decoders -----------------------------------

// A width x at least `min_height` RGB image using exactly `colors`
// distinct colours (it grows taller until all fit), scattered in short runs.
RgbImage test_picture(int width, int min_height, int colors) {
    RgbImage image;
    int height = min_height;
    while (width * height < 3 * colors) height++;
    image.width = width;
    image.height = height;
    for (int i = 0; i < width * height; i++) {
        // Runs of 3, stepping by 7 (prime to every count used) so each
        // colour appears once there are 3 * colours pixels.
        int c = (i / 3 * 7) % colors;
        // Colours spread over the cube, all distinct for up to 256.
        image.rgb.push_back(static_cast<uint8_t>(c * 37 % 256));
        image.rgb.push_back(static_cast<uint8_t>(c * 101 % 256));
        image.rgb.push_back(static_cast<uint8_t>(c * 13 % 256 ^ (c & 1 ? 0xA0 : 0)));
    }
    return image;
}

// The engine's decode seen through its own palette.
RgbImage as_rgb(const Loaded &loaded) {
    RgbImage image;
    image.width = loaded.width;
    image.height = loaded.height;
    for (uint8_t index : loaded.pixels) {
        for (int k = 0; k < 3; k++) image.rgb.push_back(loaded.palette[3 * index + k]);
    }
    return image;
}

// Decodes `pcx` with the engine, with pcxtoppm and with ImageMagick and
// expects all three (and `original`) to show the same colours.
void expect_same_as_references(const TempDir &dir, const std::string &pcx, const RgbImage &original,
                               const std::string &label, int want_bits, int want_planes) {
    Loaded engine = load(pcx);
    ASSERT_TRUE(engine.opened) << label;
    EXPECT_EQ(engine.decoded, 0) << label;
    EXPECT_EQ(engine.bits, want_bits) << label;
    EXPECT_EQ(engine.planes, want_planes) << label;
    RgbImage ours = as_rgb(engine);
    EXPECT_EQ(ours.width, original.width) << label;
    EXPECT_EQ(ours.height, original.height) << label;
    EXPECT_TRUE(ours.rgb == original.rgb) << label << ": differs from the encoded picture";

    std::string netpbm_ppm = dir.file("netpbm.ppm");
    ASSERT_EQ(run_command("pcxtoppm '" + pcx + "' > '" + netpbm_ppm + "' 2>/dev/null"), 0) << label;
    RgbImage netpbm;
    ASSERT_TRUE(assets_read_ppm(netpbm_ppm, &netpbm)) << label;
    EXPECT_TRUE(ours.rgb == netpbm.rgb) << label << ": differs from pcxtoppm";

    std::string magick_ppm = dir.file("magick.ppm");
    ASSERT_EQ(run_command("convert '" + pcx + "' -depth 8 ppm:'" + magick_ppm + "'"), 0) << label;
    RgbImage magick;
    ASSERT_TRUE(assets_read_ppm(magick_ppm, &magick)) << label;
    if (engine.bits == 1 && engine.planes == 1) {
        // ImageMagick shows one-plane 1-bit files with index 0 white and 1
        // black whatever the header palette says: compare the indices.
        Loaded mono = engine;
        std::fill(mono.palette.begin(), mono.palette.end(), 0);
        std::fill(mono.palette.begin(), mono.palette.begin() + 3, 255);
        EXPECT_TRUE(as_rgb(mono).rgb == magick.rgb) << label << ": indices differ from ImageMagick";
    } else {
        EXPECT_TRUE(ours.rgb == magick.rgb) << label << ": differs from ImageMagick";
    }
}

TEST(PcxReferences, NetpbmFilesOfEveryDepthAndOddWidths) {
    ASSERT_EQ(missing_tool("ppmtopcx", "netpbm") + missing_tool("pcxtoppm", "netpbm") +
                  missing_tool("convert", "imagemagick"),
              "");
    TempDir dir;
    struct Case {
        int colors;
        const char *options;
        int bits, planes;
    };
    const Case cases[] = {
        {2, "", 1, 1},          {4, "", 1, 2},          {8, "", 1, 3},
        {16, "", 1, 4},         {2, "-packed", 1, 1},   {4, "-packed", 2, 1},
        {16, "-packed", 4, 1},  {16, "-8bit", 8, 1},    {200, "", 8, 1},
    };
    for (const Case &c : cases) {
        for (int width : {1, 5, 13, 16, 37}) {
            RgbImage picture = test_picture(width, 7, c.colors);
            std::string ppm = dir.file("in.ppm"), pcx = dir.file("netpbm.pcx");
            ASSERT_TRUE(assets_write_ppm(ppm, picture));
            std::string label = std::to_string(c.colors) + " colours " + c.options + ", width " +
                                std::to_string(width);
            ASSERT_EQ(run_command(std::string("ppmtopcx ") + c.options + " '" + ppm + "' > '" + pcx +
                                 "' 2>/dev/null"),
                      0)
                << label;
            expect_same_as_references(dir, pcx, picture, label, c.bits, c.planes);
        }
    }
}

TEST(PcxReferences, ImageMagickPaletteFilesAndRefusedTrueColor) {
    ASSERT_EQ(missing_tool("pcxtoppm", "netpbm") + missing_tool("convert", "imagemagick"), "");
    TempDir dir;
    for (int colors : {3, 256}) {
        for (int width : {1, 7, 101}) {
            RgbImage picture = test_picture(width, 9, colors);
            std::string ppm = dir.file("in.ppm"), pcx = dir.file("magick.pcx");
            ASSERT_TRUE(assets_write_ppm(ppm, picture));
            ASSERT_EQ(run_command("convert '" + ppm + "' -type palette '" + pcx + "'"), 0);
            std::string label = "ImageMagick " + std::to_string(colors) + " colours, width " + std::to_string(width);
            expect_same_as_references(dir, pcx, picture, label, 8, 1);
            // The same file with two bytes between its data and its palette,
            // as some encoders leave them: the picture ImageMagick encoded.
            Bytes bytes;
            ASSERT_TRUE(read_whole_file(pcx, &bytes));
            ASSERT_EQ(bytes[bytes.size() - 769], 12) << label;
            bytes.insert(bytes.end() - 769, {0x00, 0xFF});
            Loaded gapped = load_bytes(dir, bytes);
            ASSERT_TRUE(gapped.opened) << label;
            EXPECT_EQ(gapped.decoded, 0) << label;
            EXPECT_TRUE(as_rgb(gapped).rgb == picture.rgb) << label << " with a gap before the palette";
        }
    }
    // ImageMagick writes 3 planes of 8 bits for true colour: the exact
    // picture, and a texture of each pixel's nearest engine colour.
    for (int width : {1, 9, 64}) {
        RgbImage picture = test_picture(width, 4, 256);
        std::string ppm = dir.file("in.ppm"), pcx = dir.file("true.pcx");
        ASSERT_TRUE(assets_write_ppm(ppm, picture));
        ASSERT_EQ(run_command("convert '" + ppm + "' -type truecolor '" + pcx + "'"), 0);
        Loaded engine = load(pcx);
        ASSERT_TRUE(engine.opened);
        EXPECT_EQ(engine.decoded, 0);
        EXPECT_EQ(engine.planes, 3);
        EXPECT_TRUE(engine.pixels == picture.rgb) << "width " << width;
        const char *why = nullptr;
        Texture *texture = pcx_load_texture_why(pcx.c_str(), &why);
        ASSERT_NE(texture, nullptr) << why;
        for (int i = 0; i < picture.width * picture.height; i++)
            ASSERT_EQ(texture->pixels[i], palette_map_nearest(palette_map_shared(), picture.rgb[3 * i],
                                                              picture.rgb[3 * i + 1], picture.rgb[3 * i + 2]))
                << "width " << width << " pixel " << i;
        texture_destroy(texture);
    }
}

TEST(PcxSave, WrittenFilesDecodeTheSameEverywhere) {
    ASSERT_EQ(missing_tool("pcxtoppm", "netpbm") + missing_tool("convert", "imagemagick"), "");
    TempDir dir;
    Bytes palette = pcx_ramp_palette();
    for (int width : {1, 2, 7, 64, 130}) {
        // Long runs (past 63), values 0xC0 and up, and noise.
        Bytes pixels;
        for (int y = 0; y < 5; y++) {
            for (int x = 0; x < width; x++) {
                int value = y == 0 ? 0xC3 : y == 1 ? x / 3 : y == 2 ? (x * 97 + 13) % 256 : y == 3 ? 0xFF : 7;
                pixels.push_back(static_cast<uint8_t>(value));
            }
        }
        std::string path = dir.file("saved.pcx");
        ASSERT_EQ(pcx_save(path.c_str(), width, 5, pixels.data(), palette.data()), 0);
        Loaded back = load(path);
        ASSERT_TRUE(back.opened);
        EXPECT_EQ(back.decoded, 0);
        EXPECT_EQ(back.pixels, pixels) << "width " << width;
        EXPECT_EQ(back.palette, palette);
        expect_same_as_references(dir, path, as_rgb(back), "saved, width " + std::to_string(width), 8, 1);
    }
    Bytes one(1, 0);
    EXPECT_EQ(pcx_save(dir.file("zero.pcx").c_str(), 0, 1, one.data(), palette.data()), -1);
    EXPECT_EQ(pcx_save(dir.file("huge.pcx").c_str(), 4097, 1, one.data(), palette.data()), -1);
    EXPECT_EQ(pcx_save(dir.file("none/x.pcx").c_str(), 1, 1, one.data(), palette.data()), -1);
}

// --- Textures in the file's colours -------------------------------------

Bytes engine_palette() {
    Bytes palette;
    for (uint32_t color : Palette)
        for (int shift : {24, 16, 8}) palette.push_back(static_cast<uint8_t>(color >> shift));
    return palette;
}

Bytes texture_pixels(const Texture *texture) {
    return Bytes(texture->pixels, texture->pixels + static_cast<size_t>(texture->width) * texture->height);
}

// A file saved with the engine's palette keeps every index, the duplicate
// blacks and whites included; a palette that is the engine's but for a few
// entries keeps the indices of the rest, and those few show their nearest
// colour; raw keeps every index whatever the palette.
TEST(PcxColors, EnginePaletteKeepsIndicesOthersMapToTheirNearest) {
    TempDir dir;
    Bytes pixels;
    for (int i = 0; i < 512; i++) pixels.push_back(static_cast<uint8_t>(i * 7 % 256));
    const std::string path = dir.file("engine.pcx");
    Bytes palette = engine_palette();
    ASSERT_EQ(pcx_save(path.c_str(), 32, 16, pixels.data(), palette.data()), 0);
    Texture *kept = pcx_load_texture(path.c_str());
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(texture_pixels(kept), pixels);
    texture_destroy(kept);

    // Entry 40 (bright red) becomes a dark red, entry 250 (a black) a
    // light grey, entry 15 (white) the engine's 31 (also white).
    palette[3 * 40] = 0x70, palette[3 * 40 + 1] = 0x01, palette[3 * 40 + 2] = 0x02;
    palette[3 * 250] = palette[3 * 250 + 1] = palette[3 * 250 + 2] = 0xA9;
    ASSERT_EQ(pcx_save(path.c_str(), 32, 16, pixels.data(), palette.data()), 0);
    Texture *mapped = pcx_load_texture(path.c_str());
    ASSERT_NE(mapped, nullptr);
    for (size_t i = 0; i < pixels.size(); i++) {
        const uint8_t want = pixels[i] == 40    ? palette_ring(PALETTE_RING_DIM, PALETTE_HUE_RED)
                             : pixels[i] == 250 ? PALETTE_LIGHT_GREY
                                                : pixels[i];
        ASSERT_EQ(mapped->pixels[i], want) << "pixel " << i << " of index " << int(pixels[i]);
    }
    texture_destroy(mapped);

    ImageOptions raw = IMAGE_OPTIONS_DEFAULT;
    raw.raw = true;
    Texture *indices = image_load_texture(path.c_str(), &raw);
    ASSERT_NE(indices, nullptr);
    EXPECT_EQ(texture_pixels(indices), pixels);
    texture_destroy(indices);

    // A two-colour file whose header leaves both entries black shows black
    // and white; a 16-colour one its header's colours.
    Loaded planar_file = load_bytes(dir, pcx_small_planar_file());
    Texture *planar = pcx_load_texture(dir.file("case.pcx").c_str());
    ASSERT_NE(planar, nullptr);
    for (size_t i = 0; i < planar_file.pixels.size(); i++) {
        const uint8_t *color = &planar_file.palette[3 * planar_file.pixels[i]];
        ASSERT_EQ(planar->pixels[i], palette_map_nearest(palette_map_shared(), color[0], color[1], color[2])) << i;
    }
    texture_destroy(planar);
    ASSERT_TRUE(write_whole_file(dir.file("mono.pcx"), pcx_file(pcx_fields(1, 1, 5, 2), {0xB7, 0x4F}, {})));
    Texture *mono = pcx_load_texture(dir.file("mono.pcx").c_str());
    ASSERT_NE(mono, nullptr);
    EXPECT_EQ(texture_pixels(mono), pixels_of({15, 0, 15, 15, 0, 0, 15, 0, 0, 15}));
    texture_destroy(mono);
}

// Pictures from an independent encoder: ImageMagick's palette files of
// photographs-like noise show, pixel by pixel, the nearest engine colour
// of the colour ImageMagick was given.
TEST(PcxColors, ImageMagickPicturesShowTheirNearestColors) {
    ASSERT_EQ(missing_tool("convert", "imagemagick"), "");
    TempDir dir;
    RgbImage picture = test_picture(37, 11, 200);
    std::string ppm = dir.file("in.ppm"), pcx = dir.file("magick.pcx");
    ASSERT_TRUE(assets_write_ppm(ppm, picture));
    ASSERT_EQ(run_command("convert '" + ppm + "' -type palette '" + pcx + "'"), 0);
    for (PaletteDither dither : {PALETTE_DITHER_NONE, PALETTE_DITHER_ORDERED, PALETTE_DITHER_DIFFUSION}) {
        ImageOptions options = IMAGE_OPTIONS_DEFAULT;
        options.dither = dither;
        Texture *texture = image_load_texture(pcx.c_str(), &options);
        ASSERT_NE(texture, nullptr);
        Bytes want(static_cast<size_t>(picture.width) * picture.height);
        ASSERT_EQ(palette_map_pixels(palette_map_shared(), picture.rgb.data(), nullptr, picture.width,
                                     picture.height, dither, want.data()),
                  0);
        EXPECT_EQ(texture_pixels(texture), want) << "dither " << dither;
        texture_destroy(texture);
    }
}

}  // namespace
