// The WAV header and little-endian sample writing.
#include "music/wav_file.h"

#include <cstring>

static void put_u16_le(uint8_t *at, uint32_t v) {
    at[0] = static_cast<uint8_t>(v);
    at[1] = static_cast<uint8_t>(v >> 8);
}

static void put_u32_le(uint8_t *at, uint32_t v) {
    put_u16_le(at, v & 0xFFFF);
    put_u16_le(at + 2, v >> 16);
}

void wav_file_header(uint8_t header[WAV_FILE_HEADER_BYTES], uint32_t rate_hz, long frames) {
    uint8_t *h = header;
    const uint32_t data_bytes = static_cast<uint32_t>(frames) * WAV_FILE_FRAME_BYTES;
    memcpy(h, "RIFF", 4);
    put_u32_le(h + 4, 36 + data_bytes);
    memcpy(h + 8, "WAVEfmt ", 8);
    put_u32_le(h + 16, 16);                                  // fmt chunk size
    put_u16_le(h + 20, 1);                                   // PCM
    put_u16_le(h + 22, WAV_FILE_CHANNELS);
    put_u32_le(h + 24, rate_hz);
    put_u32_le(h + 28, rate_hz * WAV_FILE_FRAME_BYTES);      // bytes per second
    put_u16_le(h + 32, WAV_FILE_FRAME_BYTES);                // block align
    put_u16_le(h + 34, WAV_FILE_BITS);
    memcpy(h + 36, "data", 4);
    put_u32_le(h + 40, data_bytes);
}

int wav_file_write_frames(FILE *file, const int16_t *samples, size_t frames) {
    uint8_t bytes[4096];
    const size_t frames_per_block = sizeof bytes / WAV_FILE_FRAME_BYTES;
    for (size_t done = 0; done < frames;) {
        const size_t n = frames - done < frames_per_block ? frames - done : frames_per_block;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        // The file's order is the machine's: the samples as they lie.
        memcpy(bytes, samples + 2 * done, 2 * sizeof(int16_t) * n);
#else
        for (size_t i = 0; i < 2 * n; i++) put_u16_le(bytes + 2 * i, static_cast<uint16_t>(samples[2 * done + i]));
#endif
        if (fwrite(bytes, WAV_FILE_FRAME_BYTES, n, file) != n) return -1;
        done += n;
    }
    return 0;
}
