// Voice bank: four voices mixed to unsigned 8-bit stereo, 0 and 1 on the
// left, 2 and 3 on the right, with a stack scratch taken in blocks.
#include "music/voice_bank_internal.h"

#include <cstring>

// Frames mixed per block: 4 KB of 32-bit scratch on the stack.
constexpr int VOICE_BANK_BLOCK_FRAMES = 1024;
// Two voices sum to -65536 .. 65024; >> 9 gives -128 .. 127.
constexpr int VOICE_BANK_U8_SHIFT = 9;
constexpr int VOICE_BANK_U8_SILENCE = 128;

Voice *voice_bank_init(Voice *voices, uint32_t rate_hz) {
    if (!voices) return nullptr;
    for (int i = 0; i < VOICE_BANK_VOICES; i++) voice_init(&voices[i], rate_hz);
    return voices;
}

// Mixes voices a and b into scratch and writes one side (every second byte).
static void voice_bank_side(Voice *a, Voice *b, int32_t *scratch, uint8_t *out, int frames) {
    memset(scratch, 0, sizeof(int32_t) * static_cast<size_t>(frames));
    voice_mix(a, scratch, frames);
    voice_mix(b, scratch, frames);
    for (int i = 0; i < frames; i++) {
        out[2 * i] = static_cast<uint8_t>((scratch[i] >> VOICE_BANK_U8_SHIFT) + VOICE_BANK_U8_SILENCE);
    }
}

void voice_bank_mix_u8(Voice *voices, uint8_t *out, int frames) {
    if (!voices || !out || frames <= 0) return;
    int32_t scratch[VOICE_BANK_BLOCK_FRAMES];
    int done = 0;
    while (done < frames) {
        int n = frames - done;
        if (n > VOICE_BANK_BLOCK_FRAMES) n = VOICE_BANK_BLOCK_FRAMES;
        voice_bank_side(&voices[0], &voices[1], scratch, out + 2 * done, n);
        voice_bank_side(&voices[2], &voices[3], scratch, out + 2 * done + 1, n);
        done += n;
    }
}
