// Writing 16-bit stereo PCM WAV files: the one writer behind modrender's
// output and a capture's audio, so both produce the same bytes for the same
// samples.
#ifndef MUSIC_WAV_FILE_H
#define MUSIC_WAV_FILE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

constexpr int WAV_FILE_HEADER_BYTES = 44;
constexpr int WAV_FILE_CHANNELS = 2;
constexpr int WAV_FILE_BITS = 16;
constexpr int WAV_FILE_FRAME_BYTES = WAV_FILE_CHANNELS * WAV_FILE_BITS / 8;

// The 44-byte canonical header of a PCM WAV file holding `frames` frames
// of interleaved 16-bit stereo at `rate_hz`.
void wav_file_header(uint8_t header[WAV_FILE_HEADER_BYTES], uint32_t rate_hz, long frames);

// Writes `frames` interleaved stereo frames (left first) little-endian to
// `file`. 0 on success, -1 when writing fails (errno says why).
int wav_file_write_frames(FILE *file, const int16_t *samples, size_t frames);

#endif
