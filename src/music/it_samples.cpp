// IT sample data decoded into the song's form: plain codings and the
// compressed blocks of Impulse Tracker 2.14 and 2.15
// (it_samples_internal.h describes the coding).
#include "music/it_samples_internal.h"

#include <type_traits>

#include "music/module_bytes_internal.h"

constexpr size_t IT_BLOCK_COUNT_BYTES = 2;
constexpr int IT_WIDTH_SWITCH_LIMIT = 7;        // below it, one value and n bits switch
constexpr int IT_WIDTH_MASK = 0xFF;

// The compressed coding's numbers for one sample width.
struct ItCodeWidths {
    int bits;                   // 8 or 16: a frame's bits
    int top;                    // 9 or 17: the starting (and widest) width
    int switch_bits;            // 3 or 4: bits naming the new width below width 7
    uint32_t border_mask;       // 0xFF or 0xFFFF
    uint32_t border_offset;     // 4 or 8
    uint32_t border_codes;      // 8 or 16
    uint32_t block_frames;
};

static const ItCodeWidths IT_WIDTHS_8 = {8, 9, 3, 0xFF, 4, 8, IT_BLOCK_FRAMES_8};
static const ItCodeWidths IT_WIDTHS_16 = {16, 17, 4, 0xFFFF, 8, 16, IT_BLOCK_FRAMES_16};

// A block's bit stream, read from the low bit of each byte up.
struct ItBits {
    const uint8_t *data;
    size_t bytes;
    size_t next;                // the next byte to take
    uint64_t buffer;            // bits taken but not read, lowest first
    int buffered;
};

// The next `n` (1 .. 32) bits into *value: false when the block's bytes
// end first.
static bool read_bits(ItBits *s, int n, uint32_t *value) {
    while (s->buffered < n) {
        if (s->next >= s->bytes) return false;
        s->buffer |= static_cast<uint64_t>(s->data[s->next++]) << s->buffered;
        s->buffered += 8;
    }
    *value = static_cast<uint32_t>(s->buffer & ((1ull << n) - 1));
    s->buffer >>= n;
    s->buffered -= n;
    return true;
}

// A width-switching code at `width` read as `v` (the new width into
// *width, true), or false when v is a frame's number.
static bool width_switch(const ItCodeWidths &w, ItBits *s, uint32_t v, int *width, bool *corrupt) {
    if (*width < IT_WIDTH_SWITCH_LIMIT) {
        if (v != 1u << (*width - 1)) return false;
        uint32_t n;
        if (!read_bits(s, w.switch_bits, &n)) {
            *corrupt = true;
            return true;
        }
        const int named = static_cast<int>(n) + 1;
        *width = named < *width ? named : named + 1;
        return true;
    }
    if (*width < w.top) {
        const uint32_t border = (w.border_mask >> (w.top - *width)) - w.border_offset;
        if (v <= border || v > border + w.border_codes) return false;
        const int named = static_cast<int>(v - border);
        *width = named < *width ? named : named + 1;
        return true;
    }
    if (!(v & (1u << w.bits))) return false;
    *width = static_cast<int>((v + 1) & IT_WIDTH_MASK);
    if (*width < 1 || *width > w.top) *corrupt = true;
    return true;
}

// The signed number of frame bits `v` read at `width`.
static int32_t frame_number(const ItCodeWidths &w, uint32_t v, int width) {
    if (width < w.bits) {
        const int shift = 32 - width;
        return static_cast<int32_t>(v << shift) >> shift;  // arithmetic: sign-extends
    }
    return w.bits == 8 ? static_cast<int8_t>(v) : static_cast<int16_t>(v);
}

// Decodes up to `want` frames of one block into out[done ..]; returns the
// frames decoded (fewer when its bytes end or it names a bad width).
template <typename T>
static uint32_t decode_block(const ItCodeWidths &w, ItBits *s, bool double_delta, T *out, uint32_t want) {
    using Wrap = typename std::conditional<sizeof(T) == 1, uint8_t, uint16_t>::type;
    Wrap sum = 0, sum_of_sums = 0;  // the running sums wrap at the frame's bits
    int width = w.top;
    uint32_t got = 0;
    while (got < want) {
        uint32_t v;
        if (!read_bits(s, width, &v)) break;
        bool corrupt = false;
        if (width_switch(w, s, v, &width, &corrupt)) {
            if (corrupt) break;
            continue;
        }
        sum = static_cast<Wrap>(sum + static_cast<Wrap>(frame_number(w, v, width)));
        sum_of_sums = static_cast<Wrap>(sum_of_sums + sum);
        out[got++] = static_cast<T>(double_delta ? sum_of_sums : sum);
    }
    return got;
}

uint32_t it_decompress(const uint8_t *data, size_t size, uint8_t bits, bool double_delta, void *out,
                       uint32_t frames, size_t *used) {
    if (used) *used = 0;
    if (!data || !out || (bits != 8 && bits != 16)) return 0;
    const ItCodeWidths &w = bits == 8 ? IT_WIDTHS_8 : IT_WIDTHS_16;
    size_t at = 0;
    uint32_t done = 0;
    while (done < frames && size - at >= IT_BLOCK_COUNT_BYTES) {
        const size_t count = module_le16(data + at);
        at += IT_BLOCK_COUNT_BYTES;
        const size_t bytes = count < size - at ? count : size - at;
        ItBits s = {data + at, bytes, 0, 0, 0};
        at += bytes;
        const uint32_t want = frames - done < w.block_frames ? frames - done : w.block_frames;
        const uint32_t got = bits == 8 ? decode_block(w, &s, double_delta, static_cast<int8_t *>(out) + done, want)
                                       : decode_block(w, &s, double_delta, static_cast<int16_t *>(out) + done, want);
        done += got;
        if (got < want) break;  // a block cut or corrupt ends the sample there
    }
    if (used) *used = at;
    return done;
}

void it_decode_plain(const uint8_t *data, const ItPlainCoding &coding, void *out, uint32_t frames) {
    if (!data || !out) return;
    if (coding.bits == 16) {
        int16_t *to = static_cast<int16_t *>(out);
        uint16_t last = 0;
        for (uint32_t i = 0; i < frames; i++) {
            const uint8_t *at = data + 2 * static_cast<size_t>(i);
            uint16_t raw = static_cast<uint16_t>(coding.big_endian ? at[0] << 8 | at[1] : at[0] | at[1] << 8);
            if (!coding.is_signed) raw ^= 0x8000;
            last = coding.delta ? static_cast<uint16_t>(last + raw) : raw;
            to[i] = static_cast<int16_t>(last);
        }
        return;
    }
    int8_t *to = static_cast<int8_t *>(out);
    uint8_t last = 0;
    for (uint32_t i = 0; i < frames; i++) {
        uint8_t raw = data[i];
        if (!coding.is_signed) raw ^= 0x80;
        last = coding.delta ? static_cast<uint8_t>(last + raw) : raw;
        to[i] = static_cast<int8_t>(last);
    }
}
