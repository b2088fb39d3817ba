// Pictures from files as textures in the engine's palette: PCX (every
// depth the PCX reader takes, 24-bit included) and PNG (every colour type
// and depth, interlaced or not), told apart by their content, never by
// their name. Reading gives the picture as the file holds it (ImagePixels);
// image_to_texture then shows it through the engine's palette
// (gfx2d/palette_map.h), and image_load_texture does both.
//
// Colours. Each colour of the file takes the engine's nearest colour. An
// entry of a file's palette that is exactly the engine's entry of the same
// index keeps that index, so a picture saved with the engine's palette
// (every file under res/, every pcx_save or kevo-image output) keeps its
// indices byte for byte; any other colour that is an engine colour takes
// that entry. The raw option keeps the file's indices whatever its palette
// says: for index data (height maps, plasma tables, colour cycling).
//
// Transparency. The engine draws opaquely, so a pixel below half opacity
// (alpha below 128 of 255, or 32768 of 65535) takes the key index the
// caller names (ImageOptions.key_index, black by default) and every other
// pixel is composited onto black (each channel times alpha / 255, rounded).
// Transparency comes from a PNG's alpha channel or its tRNS chunk.
//
// PNG gamma: as the file says. A gAMA or sRGB chunk is honoured, the
// samples converted for an sRGB screen (libpng leaves pictures whose gamma
// is near sRGB's untouched); a file without either is taken as sRGB. cHRM
// and iCCP are not read.
//
// Limits: at most IMAGE_MAX_SIDE_PX pixels each way, and a PNG may not
// claim more pixels than its compressed data could expand to (DEFLATE
// expands at most 1032 times), so that a small file never makes the reader
// allocate for a picture it cannot hold. Only regular files are read.
// Reading a PNG stops once its picture's last row is decoded: of the
// compressed data after it, at most the IMAGE_PNG_READ_BYTES read with the
// last row are inflated (to at most 1032 times as many bytes, thrown
// away); the rest of the chunk that held it is only read past, for its
// CRC; later chunks (more data, IEND) are not read. So the time a PNG
// takes follows its picture's size and its file's bytes, never what its
// data inflates to past the picture (1 MB of data inflating to 1 GiB
// behind a 16 x 16 picture is read like 1 MB of anything).
//
// Nothing is printed. A failure gives null and, through the _why forms, one
// short line that follows the path in a message: the PCX reader's reasons,
// the system's ("No such file or directory"), or what libpng reported about
// a damaged PNG ("IDAT: CRC error").
#ifndef ASSETS_IMAGE_H
#define ASSETS_IMAGE_H

#include <cstdint>

#include "gfx2d/palette_map.h"  // PaletteDither, PaletteMap
#include "gfx2d/sprite.h"       // Sprite
#include "render3d/geometry.h"  // Texture

// The largest width and height read, as for PCX.
constexpr int IMAGE_MAX_SIDE_PX = 4096;
// The most a DEFLATE stream can expand: 258 bytes from about 2 bits.
constexpr int IMAGE_DEFLATE_MAX_RATIO = 1032;
// A PNG's compressed data is read in pieces of at most this many bytes.
constexpr int IMAGE_PNG_READ_BYTES = 1024;

// A picture as its file holds it. Owns `pixels` and `alpha`.
struct ImagePixels {
    int32_t width;          // pixels, 1 .. IMAGE_MAX_SIDE_PX
    int32_t height;         // rows, 1 .. IMAGE_MAX_SIDE_PX
    int32_t palette_colors; // 1 .. 256: pixels are indices into palette; 0: pixels are RGB triples
    uint8_t palette[768];   // RGB triples; entries past palette_colors are 0 (black)
    uint8_t *pixels;        // width * height indices, or width * height RGB triples, top row first
    uint8_t *alpha;         // null when opaque, else width * height opacities (0 clear .. 255 opaque)
};

// How a picture becomes engine indices.
struct ImageOptions {
    bool raw;               // keep the file's indices (a grey picture's levels); no colour mapping
    PaletteDither dither;   // PALETTE_DITHER_NONE for textures: stable in motion
    uint8_t key_index;      // the index of pixels below half opacity
    const PaletteMap *map;  // the table colours go through; null: palette_map_shared()
};

// No dithering, colours mapped through the shared table, key index 0
// (black): what a null options pointer means everywhere.
constexpr ImageOptions IMAGE_OPTIONS_DEFAULT = {false, PALETTE_DITHER_NONE, 0, nullptr};

// Room for one reason, terminating zero included.
constexpr int IMAGE_WHY_BYTES = 200;
// Why reading or converting a picture failed.
struct ImageWhy {
    char text[IMAGE_WHY_BYTES];  // one short line, zero-terminated, without the path
};

// Reads the PNG or PCX file at `path`, whichever its first bytes say it
// is: the PNG signature means PNG, anything starting with the PCX
// manufacturer byte (10) PCX. Null on failure, with why->text (when `why`
// is not null) saying what failed; a file that is neither says so.
ImagePixels *image_read(const char *path, ImageWhy *why);

// Reads a PCX file: indices and the file's palette (the 256-colour one
// after the data, otherwise the 16 of the header, 2 ^ (bits x planes)
// entries of it), or RGB for 3 planes of 8 bits. A two-colour file whose
// two header entries are the same colour (as many monochrome files leave
// them) shows 0 black and 1 white. Null on failure with the PCX reader's
// reason.
ImagePixels *image_read_pcx(const char *path, ImageWhy *why);

// Reads a PNG file through libpng: palette pictures (1, 2, 4, 8 bits)
// keep their indices and palette, with tRNS as alpha; grey pictures (1 to
// 16 bits) become indices into a 256-level grey palette, their levels
// scaled to 8 bits; colour pictures RGB; 16-bit samples are scaled to 8
// bits (rounded). Interlaced files are read whole. Null on failure with
// the reason.
ImagePixels *image_read_png(const char *path, ImageWhy *why);

// Releases a picture and its pixels. Null does nothing.
void image_pixels_free(ImagePixels *image);

// A new Texture (owning its pixels) showing `image` through the engine's
// palette as the options say (null: IMAGE_OPTIONS_DEFAULT). Null when
// memory runs out ("out of memory") or when raw is asked of an RGB
// picture, which has no indices to keep.
Texture *image_to_texture(const ImagePixels *image, const ImageOptions *options, ImageWhy *why);

// image_read then image_to_texture: the one call for a picture file.
Texture *image_load_texture(const char *path, const ImageOptions *options);
Texture *image_load_texture_why(const char *path, const ImageOptions *options, ImageWhy *why);

// A picture file as a sprite at (0, 0) that owns its pixels: with
// sprite_draw, a logo reaches the screen in two calls. Null as for
// image_load_texture_why.
Sprite *image_load_sprite(const char *path, const ImageOptions *options, ImageWhy *why);

// Writes width x height engine indices as an 8-bit palette PNG carrying
// the engine's palette: the picture exactly as the engine shows it, and a
// file that loads back to the same indices. The file at `path` is
// replaced only once the new one is whole (util/file_replace.h): a write
// that fails leaves it as it was. 0; -1 with one "IMAGE: ..." line on
// standard error when the size is outside 1 .. IMAGE_MAX_SIDE_PX or the
// file cannot be written (with the reason of the call that failed).
int image_save_png(const char *path, int width, int height, const uint8_t *indices);

// The same for width x height RGB triples (row by row, top row first) as
// an 8-bit RGB PNG, for pictures beyond the engine's colours.
int image_save_png_rgb(const char *path, int width, int height, const uint8_t *rgb);

#endif
