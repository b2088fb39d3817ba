// IT sample data into the song's form: the plain codings (8 or 16 bits,
// signed or unsigned, little- or big-endian, delta-coded) and the
// compressed samples of Impulse Tracker 2.14 and 2.15, decoded once when
// the file is read. Defined in it_samples.cpp; the IT reader
// (module_readers_internal.h) lays out where each sample's data goes.
//
// The compressed coding: the data is a run of blocks, each a 16-bit
// little-endian count of the bytes that follow, then that many bytes of a
// bit stream read from the low bit of each byte up. A block holds the next
// 32768 frames of an 8-bit sample (16384 of a 16-bit one), or the rest.
// Each frame is a signed number of `width` bits, a difference: 2.14 adds
// it to the last frame, 2.15 to the last difference, whose running sum is
// the frame (both start at 0 in every block). The width starts at 9 (17)
// in every block and changes on codes the stream writes in its place:
//   width 1 .. 6: the value 1 << (width - 1) is followed by 3 (4) bits n:
//                 the new width is n + 1, or n + 2 when that is >= width;
//   width 7 .. 8 (7 .. 16): the values border + 1 .. border + 8 (16), with
//                 border = (0xFF >> (9 - width)) - 4 ((0xFFFF >> (17 -
//                 width)) - 8), become the new width value - border, or
//                 one more when that is >= width;
//   width 9 (17): a value with bit 8 (16) set makes (value + 1) & 0xFF the
//                 new width;
// any other value is a frame's number, sign-extended from `width` bits (at
// widths 9 and 17 its low 8 or 16 bits). A stereo sample stores its left
// half's blocks, then its right half's.
#ifndef MUSIC_IT_SAMPLES_INTERNAL_H
#define MUSIC_IT_SAMPLES_INTERNAL_H

#include <cstddef>
#include <cstdint>

// Frames per block of the compressed coding.
constexpr uint32_t IT_BLOCK_FRAMES_8 = 32768;
constexpr uint32_t IT_BLOCK_FRAMES_16 = 16384;

// Decodes compressed frames from data[0 .. size) into `out` (int8_t for
// bits 8, int16_t for bits 16), at most `frames` of them; `double_delta`
// picks 2.15's coding. Never reads past data + size: a block whose count
// runs past it is read as far as it goes, and a block's stream ends the
// block's frames where its bytes end or where it names a width outside 1 ..
// 9 (1 .. 17), the rest of the sample then staying 0. Returns the frames
// decoded (0 for a null argument or bits other than 8 or 16); *used, when
// not null, receives the bytes the blocks spent (where the next half's
// blocks begin).
uint32_t it_decompress(const uint8_t *data, size_t size, uint8_t bits, bool double_delta, void *out,
                       uint32_t frames, size_t *used);

// The most frames compressed data of `bytes` bytes can hold: a frame takes
// at least one bit.
inline uint64_t it_compressed_frames_bound(size_t bytes) { return static_cast<uint64_t>(bytes) * 8; }

// How an IT sample header (its flags and its "convert" byte) says the
// plain data is coded.
struct ItPlainCoding {
    uint8_t bits;               // 8 or 16
    bool is_signed;
    bool big_endian;            // 16-bit only
    bool delta;                 // each frame the difference from the last
};

// Decodes `frames` plain frames from `data` (which holds them) into `out`
// (int8_t or int16_t by coding.bits). Null arguments do nothing.
void it_decode_plain(const uint8_t *data, const ItPlainCoding &coding, void *out, uint32_t frames);

#endif
