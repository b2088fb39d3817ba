// Fuzzes the UTF-8 helpers on arbitrary zero-terminated byte strings and
// checks that the walks agree with each other and with decode/encode.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "util/utf8.h"

static void check(bool ok, const char *what) {
    if (!ok) {
        fprintf(stderr, "FUZZ: utf8 invariant broken: %s\n", what);
        abort();
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // An exact-size copy, so the sanitizers see any read past the terminator.
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    const char *s = text.data();
    const int length_bytes = static_cast<int>(strlen(s));

    int steps = 0, offset = 0;
    while (s[offset] != '\0') {
        const int step = utf8_char_size(s + offset);
        check(step >= 1 && step <= 4, "a character is 1 to 4 bytes");
        check(offset + step <= length_bytes, "a step never passes the terminator");
        check(utf8_byte_offset(s, steps) == offset, "byte offset of each character");
        check(utf8_char_at(s, steps) == s + offset, "pointer to each character");
        const uint32_t c = utf8_decode(s + offset);
        if (utf8_validate(s + offset) == 0) {
            check(step == utf8_sequence_length(s + offset), "a valid character steps its sequence length");
            if (c != UTF8_REPLACEMENT_CHAR) {
                // Decoding then encoding then decoding is stable.
                char out[4];
                const int n = utf8_encode(c, out, 4);
                check(n == utf8_encoded_length(c) && n >= 1 && n <= 4, "encode writes its encoded length");
                char again[5] = {0, 0, 0, 0, 0};
                memcpy(again, out, static_cast<size_t>(n));
                check(utf8_decode(again) == c, "encode then decode gives the code point back");
                check(utf8_encode(c, out, n - 1) == 0, "too little room writes nothing");
            }
        } else {
            check(step == 1, "an invalid byte is one character");
            check(c == UTF8_REPLACEMENT_CHAR, "an invalid sequence decodes to U+FFFD");
        }
        check(c <= UTF8_MAX_CODE_POINT, "decoding never exceeds U+10FFFF");
        offset += step;
        steps++;
    }
    check(utf8_char_count(s) == steps, "character count");
    check(utf8_byte_offset(s, steps) == length_bytes, "offset of the terminator");
    check(utf8_byte_offset(s, steps + 1) == -1, "beyond the end");
    check(utf8_char_at(s, steps + 1) == nullptr, "no pointer beyond the end");
    check(utf8_byte_offset(s, -1) == -1, "negative index");
    check(utf8_bytes_for_chars(s, static_cast<uint32_t>(steps)) == length_bytes, "bytes for all characters");
    check(utf8_bytes_for_chars(s, 0xFFFFFFFFu) == length_bytes, "bytes stop growing at the terminator");
    return 0;
}
