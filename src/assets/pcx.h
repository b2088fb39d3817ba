// PCX images: the run-length-encoded indexed format the engine's textures
// come from. Reading is three calls on one PcxImage (open, decode, close);
// pcx_save writes the engine's own 8-bit files; pcx_load_texture strings the
// reading calls together for callers that only want a Texture.
// Knows nothing of meshes or materials.
#ifndef ASSETS_PCX_H
#define ASSETS_PCX_H

#include <cstdint>

#include "render3d/geometry.h"  // Texture

// The published PCX header: 128 bytes, multi-byte fields little-endian.
constexpr int PCX_HEADER_BYTES = 128;
constexpr int PCX_MANUFACTURER_OFFSET = 0;   // must be PCX_MANUFACTURER
constexpr int PCX_VERSION_OFFSET = 1;        // written, never read
constexpr int PCX_ENCODING_OFFSET = 2;       // must be PCX_ENCODING_RLE
constexpr int PCX_BITS_OFFSET = 3;           // bits per pixel per plane
constexpr int PCX_XMIN_OFFSET = 4;           // signed 16-bit
constexpr int PCX_YMIN_OFFSET = 6;           // signed 16-bit
constexpr int PCX_XMAX_OFFSET = 8;           // signed 16-bit, inclusive
constexpr int PCX_YMAX_OFFSET = 10;          // signed 16-bit, inclusive
constexpr int PCX_HDPI_OFFSET = 12;          // written, never read
constexpr int PCX_VDPI_OFFSET = 14;          // written, never read
constexpr int PCX_HEADER_PALETTE_OFFSET = 16;
constexpr int PCX_HEADER_PALETTE_BYTES = 48;  // 16 RGB triples
constexpr int PCX_PLANES_OFFSET = 65;
constexpr int PCX_BYTES_PER_LINE_OFFSET = 66;  // unsigned 16-bit, per plane
constexpr int PCX_PALETTE_TYPE_OFFSET = 68;    // written, never read

constexpr uint8_t PCX_MANUFACTURER = 10;  // the first byte of every PCX file
constexpr uint8_t PCX_VERSION_5 = 5;  // the version that has a 256-colour palette
constexpr uint8_t PCX_ENCODING_RLE = 1;   // run-length encoding, the only one
// An encoded byte with both top bits set is a run: low 6 bits = length.
constexpr uint8_t PCX_RUN_FLAGS = 0xC0;
constexpr uint8_t PCX_RUN_LENGTH_MASK = 0x3F;
constexpr int PCX_MAX_RUN = 63;
// Byte between the image data and the trailing 256-colour palette.
constexpr uint8_t PCX_PALETTE_MARKER = 12;
constexpr int PCX_PALETTE_BYTES = 768;  // 256 RGB triples

// Largest accepted width and height: the biggest texture the renderer is
// meant to sample. 4096 x 4096 keeps the pixel block at 16 MiB.
constexpr int PCX_MAX_SIDE_PX = 4096;
// At most 8 planes of 1 bit: a pixel index has 8 bits.
constexpr int PCX_MAX_PLANES = 8;
// True colour: 3 planes of 8 bits, red, green and blue.
constexpr int PCX_TRUE_COLOR_PLANES = 3;

// One PCX file being loaded. The record owns `pixels` until a caller takes
// the pointer over (and sets the field to null); pcx_free never releases the
// pixels.
struct PcxImage {
    int fd;              // the open file; -1 once closed
    int bits_per_pixel;  // per plane: 1, 2, 4 or 8
    int planes;          // 1; 1 .. 8 when bits_per_pixel is 1; 3 when it is 8 (true colour)
    uint8_t palette[PCX_PALETTE_BYTES];  // 256 RGB triples
    int width;           // pixels, 1 .. PCX_MAX_SIDE_PX
    int height;          // pixels, 1 .. PCX_MAX_SIDE_PX
    // width * height palette indices, top row first; for true colour
    // width * height RGB triples (pcx_bytes_per_pixel says which).
    uint8_t *pixels;
    // Encoded bytes per line of one plane: the header's value when it is at
    // least what the width needs (encoders pad lines to an even count),
    // otherwise what the width needs.
    int bytes_per_plane_line;
};

// Opens `path` read-only, when it is a regular file, and checks its header.
// A new record with the file positioned at the image data and zeroed
// pixels, or null (nothing printed) when the file cannot be opened or read,
// its header is short, the manufacturer or encoding byte is wrong, width or
// height is below 1 or above PCX_MAX_SIDE_PX, the depth/plane combination is
// not one of 1, 2, 4, 8 bits with one plane, 1 bit with 1 .. 8 planes or 8
// bits with 3 planes (true colour), or an allocation fails. Palette bytes
// 0 .. 47 hold the header palette, the rest are 0.
PcxImage *pcx_open(const char *path);

// pcx_open that also says why it refused: *why (when `why` is not null)
// then points at a short static text that follows the path in a message:
// the system's reason when opening or reading fails, such as "No such file
// or directory", or what is wrong with the file, such as "is a FIFO", "ends
// inside its 128-byte header" or "has a depth and plane count that make no
// picture". Only regular files are opened: a directory, device or FIFO is
// refused without blocking.
PcxImage *pcx_open_why(const char *path, const char **why);

// Expands the image data into `pixels` and reads the trailing 256-colour
// palette when the file has one: the file's last 769 bytes when at least
// that many follow the image data and they start with the marker byte 12
// (some encoders leave bytes between the data and the palette); otherwise
// the marker and 768 bytes right after the data.
// 0 on success, also for a file that ends right after the image data (it has
// no 256-colour palette). -1 for a null or closed record, for a file that
// ends inside the data or inside the palette and when a read fails; what was
// decoded before the end stays in `pixels`, palette bytes the file did not
// provide are 0.
int pcx_decode(PcxImage *image);

// Bytes of `pixels` per pixel: 3 for true colour, otherwise 1.
int pcx_bytes_per_pixel(const PcxImage *image);

// Closes the file. 0 for a null record or after closing; -1 when the file
// was already closed. Touches neither `pixels` nor the record.
int pcx_close(PcxImage *image);

// Releases the record, closing its file if still open, but never `pixels`.
// Null does nothing.
void pcx_free(PcxImage *image);

// Writes `pixels` (width * height palette indices, row-major) as an 8-bit,
// one-plane, run-length-encoded PCX file with `palette` (768 bytes) as its
// 256-colour palette. Lines are padded to an even byte count as the format
// asks. The file at `path` is replaced only once the new one is whole
// (util/file_replace.h): a write that fails leaves it as it was. 0 on
// success; -1 (and one "PCX: ..." line on standard error, with the reason
// of the call that failed) when the size is outside 1 .. PCX_MAX_SIDE_PX
// or the file cannot be written.
int pcx_save(const char *path, int width, int height, const uint8_t *pixels,
             const uint8_t *palette);

// Loads a whole PCX file into a new Texture that owns its pixels, or null
// (nothing printed) when pcx_open or pcx_decode fails or an allocation fails;
// nothing is left open or allocated then. The file's colours are kept:
// each takes the engine's nearest colour, and a file saved with the
// engine's palette keeps its indices exactly (assets/image.h says how;
// image_load_texture reads PNG as well and has the raw and dithering
// options).
Texture *pcx_load_texture(const char *path);

// pcx_load_texture that also says why it failed, as pcx_open_why does; a
// file that ends too early gives "ends inside its image data or its
// palette".
Texture *pcx_load_texture_why(const char *path, const char **why);

// Releases a texture and its pixels. Null does nothing.
void texture_destroy(Texture *texture);

#endif
