// Packing rows of 1-bit pixels: both bit orders, a last byte only partly
// covered, and nothing written past the row.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "util/bit_rows.h"

TEST(UtilBitRows, BothOrdersPartialLastByteAndNothingPastTheRow) {
    // 11 pixels: bytes 0b1000'0011 / 0b0000'0101 leftmost-low, their mirror
    // images leftmost-high; any non-zero pixel is ink.
    const uint8_t pixels[11] = {1, 1, 0, 0, 0, 0, 0, 255, 7, 0, 1};
    uint8_t bits[3] = {0xEE, 0xEE, 0xEE};
    bit_row_pack(pixels, 11, BITS_LEFTMOST_LOW, bits);
    EXPECT_EQ(bits[0], 0x83);
    EXPECT_EQ(bits[1], 0x05);
    EXPECT_EQ(bits[2], 0xEE);
    bit_row_pack(pixels, 11, BITS_LEFTMOST_HIGH, bits);
    EXPECT_EQ(bits[0], 0xC1);
    EXPECT_EQ(bits[1], 0xA0);
    EXPECT_EQ(bits[2], 0xEE);
    bit_row_pack(pixels, 0, BITS_LEFTMOST_LOW, bits);
    bit_row_pack(pixels, -3, BITS_LEFTMOST_HIGH, bits);
    EXPECT_EQ(bits[0], 0xC1);

    // Any length: pixel j is found again where each order puts it.
    std::mt19937 random(19);
    for (int count = 1; count <= 70; count++) {
        std::vector<uint8_t> row(count), low((count + 7) / 8 + 1, 0xEE), high(low);
        for (uint8_t &p : row) p = random() % 3 == 0 ? 0 : static_cast<uint8_t>(random());
        bit_row_pack(row.data(), count, BITS_LEFTMOST_LOW, low.data());
        bit_row_pack(row.data(), count, BITS_LEFTMOST_HIGH, high.data());
        for (int j = 0; j < (count + 7) / 8 * 8; j++) {
            const int want = j < count && row[j] != 0;
            ASSERT_EQ((low[j / 8] >> (j % 8)) & 1, want) << count << " pixels, pixel " << j;
            ASSERT_EQ((high[j / 8] >> (7 - j % 8)) & 1, want) << count << " pixels, pixel " << j;
        }
        EXPECT_EQ(low.back(), 0xEE) << count;
        EXPECT_EQ(high.back(), 0xEE) << count;
    }
}
