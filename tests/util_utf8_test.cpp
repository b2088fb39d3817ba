// UTF-8 helpers: the lead-byte table, the acceptance rules (overlong three-
// and four-byte forms and surrogates pass; C0, C1 and leads above F4 fail),
// decoding, the character walks over valid and broken text, and encoding
// checked against glibc's iconv for every code point.
#include <gtest/gtest.h>
#include <iconv.h>  // an independent UTF-32 to UTF-8 converter

#include <cstdint>
#include <cstring>
#include <string>

#include "util/utf8.h"

// Sequence length by lead-byte range, listed independently of the masks
// the implementation tests.
static int expected_length(int b) {
    if (b <= 0x7F) return 1;
    if (b <= 0xBF) return 0;
    if (b <= 0xDF) return 2;
    if (b <= 0xEF) return 3;
    if (b <= 0xF7) return 4;
    return 0;
}

TEST(UtilUtf8, SequenceLengthOfEveryLeadByte) {
    for (int b = 0; b < 256; b++) {
        char byte[2] = {static_cast<char>(b), 0};
        EXPECT_EQ(utf8_sequence_length(byte), expected_length(b)) << "lead " << b;
    }
}

TEST(UtilUtf8, AcceptanceRulesOverEveryShortSequence) {
    // Every lead followed by a continuation byte, a non-continuation byte
    // and the terminator, padded with continuations where needed.
    for (int lead = 0; lead < 256; lead++) {
        int n = expected_length(lead);
        bool lead_ok = n > 0 && lead != 0xC0 && lead != 0xC1 && lead <= 0xF4;
        for (int follow : {0x80, 0xBF, 0x41, 0x00, 0xC3}) {
            char seq[5] = {static_cast<char>(lead), static_cast<char>(follow),
                           static_cast<char>(0x80), static_cast<char>(0x80), 0};
            bool follow_ok = n <= 1 || (follow & 0xC0) == 0x80;
            EXPECT_EQ(utf8_validate(seq), lead_ok && follow_ok ? 0 : -1)
                << std::hex << "lead " << lead << " follow " << follow;
        }
    }
    // The listed figures.
    EXPECT_EQ(utf8_validate("\xC3\xA9"), 0);
    EXPECT_EQ(utf8_decode("\xC3\xA9"), 0xE9u);
    EXPECT_EQ(utf8_validate("\xC0\x80"), -1);
    EXPECT_EQ(utf8_decode("\xC0\x80"), UTF8_REPLACEMENT_CHAR);
    EXPECT_EQ(utf8_validate("\xC1\xBF"), -1);
    EXPECT_EQ(utf8_decode("\xC1\xBF"), UTF8_REPLACEMENT_CHAR);
    EXPECT_EQ(utf8_validate("\xE2\x82"), -1);  // cut short by the terminator
    EXPECT_EQ(utf8_validate("\xF5\x80\x80\x80"), -1);
    EXPECT_EQ(utf8_decode("\xF5\x80\x80\x80"), UTF8_REPLACEMENT_CHAR);
    EXPECT_EQ(utf8_validate("\xF4\x90\x80\x80"), 0);  // passes, but above U+10FFFF
    EXPECT_EQ(utf8_decode("\xF4\x90\x80\x80"), UTF8_REPLACEMENT_CHAR);
    EXPECT_EQ(utf8_decode("\xF4\x8F\xBF\xBF"), 0x10FFFFu);
    EXPECT_EQ(utf8_decode("\xED\xA0\x80"), 0xD800u);  // a surrogate passes
    EXPECT_EQ(utf8_decode("\xE0\x80\x80"), 0u);       // overlong three-byte form passes
    EXPECT_EQ(utf8_decode("\xF0\x80\x80\x80"), 0u);   // overlong four-byte form passes
    EXPECT_EQ(utf8_decode("\xE2\x82\xAC"), 0x20ACu);
    EXPECT_EQ(utf8_decode("\xF0\x9F\x98\x80"), 0x1F600u);
    EXPECT_EQ(utf8_decode("A"), 0x41u);
    EXPECT_EQ(utf8_decode(""), 0u);  // the terminator is a one-byte sequence
    EXPECT_EQ(utf8_decode("\x80"), UTF8_REPLACEMENT_CHAR);
    EXPECT_EQ(utf8_decode("\xFF"), UTF8_REPLACEMENT_CHAR);
}

TEST(UtilUtf8, WalksOverValidAndBrokenText) {
    const char *text = "a\xC3\xA9\xE2\x82\xAC";  // a, U+00E9, U+20AC
    EXPECT_EQ(utf8_char_count(text), 3);
    const int offsets[] = {0, 1, 3, 6};
    for (int n = 0; n <= 3; n++) {
        EXPECT_EQ(utf8_byte_offset(text, n), offsets[n]) << n;
        EXPECT_EQ(utf8_char_at(text, n), text + offsets[n]) << n;
    }
    EXPECT_EQ(utf8_byte_offset(text, 4), -1);
    EXPECT_EQ(utf8_char_at(text, 4), nullptr);
    EXPECT_EQ(utf8_byte_offset(text, -1), -1);
    EXPECT_EQ(utf8_char_at(text, -1), nullptr);
    EXPECT_EQ(utf8_bytes_for_chars(text, 0), 0);
    EXPECT_EQ(utf8_bytes_for_chars(text, 2), 3);
    EXPECT_EQ(utf8_bytes_for_chars(text, 3), 6);
    EXPECT_EQ(utf8_bytes_for_chars(text, 100), 6);  // stops at the terminator
    EXPECT_EQ(utf8_bytes_for_chars(text, UINT32_MAX), 6);
    EXPECT_EQ(utf8_char_size(text), 1);
    EXPECT_EQ(utf8_char_size(text + 1), 2);
    EXPECT_EQ(utf8_char_size(text + 3), 3);
    EXPECT_EQ(utf8_char_size(text + 6), 0);

    // E2 82 before the terminator: two one-byte characters.
    const char *cut = "x\xE2\x82";
    EXPECT_EQ(utf8_char_count(cut), 3);
    EXPECT_EQ(utf8_char_size(cut + 1), 1);
    EXPECT_EQ(utf8_byte_offset(cut, 3), 3);
    // A stray continuation byte and an overlong two-byte form inside text.
    const char *stray = "a\x80" "b\xC0\x80" "c";
    EXPECT_EQ(utf8_char_count(stray), 6);
    EXPECT_EQ(utf8_byte_offset(stray, 2), 2);
    EXPECT_EQ(utf8_decode(utf8_char_at(stray, 1)), UTF8_REPLACEMENT_CHAR);
    EXPECT_EQ(*utf8_char_at(stray, 5), 'c');
    EXPECT_EQ(utf8_char_count(""), 0);
    EXPECT_EQ(utf8_byte_offset("", 0), 0);
    EXPECT_EQ(utf8_byte_offset("", 1), -1);
}

TEST(UtilUtf8, EncodingAgreesWithIconvForEveryCodePoint) {
    char out[8];
    // The listed figures.
    EXPECT_EQ(utf8_encode(0x20AC, out, 2), 0);
    EXPECT_EQ(utf8_encode(0x20AC, out, 3), 3);
    EXPECT_EQ(std::string(out, 3), "\xE2\x82\xAC");
    EXPECT_EQ(utf8_encode(0x1F600, out, 4), 4);
    EXPECT_EQ(std::string(out, 4), "\xF0\x9F\x98\x80");
    memset(out, 0x55, sizeof out);
    EXPECT_EQ(utf8_encode(0x41, out, 1), 1);
    EXPECT_EQ(out[0], 'A');
    EXPECT_EQ(out[1], 0x55);  // no terminator written
    EXPECT_EQ(utf8_encode(0x41, out, 0), 0);
    EXPECT_EQ(utf8_encode(0x41, nullptr, 4), 0);
    EXPECT_EQ(utf8_encoded_length(0x7F), 1);
    EXPECT_EQ(utf8_encoded_length(0x80), 2);
    EXPECT_EQ(utf8_encoded_length(0x7FF), 2);
    EXPECT_EQ(utf8_encoded_length(0x800), 3);
    EXPECT_EQ(utf8_encoded_length(0xFFFF), 3);
    EXPECT_EQ(utf8_encoded_length(0x10000), 4);
    EXPECT_EQ(utf8_encoded_length(0x7FFFFFFF), 4);  // no range test

    iconv_t cd = iconv_open("UTF-8", "UTF-32LE");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
    int mismatches = 0;
    for (uint32_t c = 1; c <= UTF8_MAX_CODE_POINT; c++) {
        int n = utf8_encode(c, out, sizeof out);
        out[n] = 0;
        ASSERT_EQ(n, utf8_encoded_length(c));
        // Every encoding decodes back, surrogates included, and is one
        // character of n bytes.
        if (utf8_decode(out) != c || utf8_char_size(out) != n || utf8_char_count(out) != 1) {
            ADD_FAILURE() << std::hex << "round trip of U+" << c;
            if (++mismatches > 10) break;
        }
        if (c >= 0xD800 && c <= 0xDFFF) continue;  // iconv refuses surrogates
        uint8_t in[4] = {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8),
                         static_cast<uint8_t>(c >> 16), 0};
        char ref[8];
        char *in_p = reinterpret_cast<char *>(in);
        char *ref_p = ref;
        size_t in_left = 4, ref_left = sizeof ref;
        ASSERT_NE(iconv(cd, &in_p, &in_left, &ref_p, &ref_left), static_cast<size_t>(-1));
        size_t ref_n = sizeof ref - ref_left;
        if (ref_n != static_cast<size_t>(n) || memcmp(ref, out, ref_n) != 0) {
            ADD_FAILURE() << std::hex << "U+" << c << " differs from iconv";
            if (++mismatches > 10) break;
        }
    }
    iconv_close(cd);
}
