// Sine table and the three table sines: every entry re-derived from its
// rule, the published figures, and the guarantee that nothing returns +-1.0.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "render3d/trig.h"

static const Fixed DEG = FIXED_ONE;  // one degree in Fixed degrees

TEST(Render3dTrig, TableFollowsItsRuleEntryByEntry) {
    for (int k = 0; k < SINE_TABLE_ENTRIES; k++) {
        // Computed in long double, independently of the generator's double.
        long double exact = 65536.0L * std::sin(static_cast<long double>(k) * 3.1415L / 1440.0L);
        uint32_t expected = static_cast<uint32_t>(std::floor(exact + 0.5L));
        if (expected > 65535) expected = 65535;
        ASSERT_EQ(sine_table[k], expected) << "entry " << k;
    }
    const int rows[][2] = {{0, 0},       {1, 143},     {2, 286},     {60, 8554},  {120, 16961},
                           {240, 32767}, {360, 46340}, {480, 56755}, {600, 63302}, {700, 65473},
                           {716, 65533}, {717, 65535}, {718, 65535}, {719, 65535}};
    for (auto &row : rows) EXPECT_EQ(sine_table[row[0]], static_cast<uint32_t>(row[1])) << "entry " << row[0];
}

TEST(Render3dTrig, FixedSinFigures) {
    EXPECT_EQ(fixed_sin(0), 0);
    EXPECT_EQ(fixed_sin(8192), 143);       // 0.125 degrees: one table step
    EXPECT_EQ(fixed_sin(6553), 0);         // 0.1 degrees: below one step, dropped
    EXPECT_EQ(fixed_sin(30 * DEG), 32767);
    EXPECT_EQ(fixed_sin(45 * DEG), 46340);
    EXPECT_EQ(fixed_sin(90 * DEG), 65535);
    EXPECT_EQ(fixed_sin(180 * DEG), 0);
    EXPECT_EQ(fixed_sin(270 * DEG), -65535);
    EXPECT_EQ(fixed_sin(360 * DEG), 0);
    EXPECT_EQ(fixed_sin(-90 * DEG), -65535);
    EXPECT_EQ(fixed_sin(370 * DEG), fixed_sin(10 * DEG));
    EXPECT_NE(fixed_sin(10 * DEG), 0);
    // Mirrored quadrants read entry 719 - i: 135 degrees sits one step off 45.
    EXPECT_EQ(fixed_sin(135 * DEG), 46239);
    EXPECT_EQ(fixed_sin(225 * DEG), -46340);
    EXPECT_EQ(fixed_sin(315 * DEG), -46239);
}

TEST(Render3dTrig, FixedCosFigures) {
    EXPECT_EQ(fixed_cos(0), 65535);
    EXPECT_EQ(fixed_cos(30 * DEG), 56683);
    EXPECT_EQ(fixed_cos(45 * DEG), 46239);
    EXPECT_EQ(fixed_cos(90 * DEG), 0);
    EXPECT_EQ(fixed_cos(180 * DEG), -65535);
    EXPECT_EQ(fixed_cos(270 * DEG), 0);
    // The 90-degree addition wraps in 32 bits instead of overflowing.
    EXPECT_EQ(fixed_cos(INT32_MAX), fixed_sin(static_cast<Fixed>(static_cast<uint32_t>(INT32_MAX) + FIXED_QUARTER_TURN)));
}

TEST(Render3dTrig, SinEighthsFigures) {
    const int32_t cases[][2] = {{0, 0},        {1, 143},   {720, 65535}, {1440, 0},
                                {2160, -65535}, {2879, 0},  {2880, 0},    {-1, 0},
                                {-720, -65535}, {-100, -14045}};
    for (auto &c : cases) EXPECT_EQ(sin_eighths(c[0]), c[1]) << "angle " << c[0];
    // Same lookup as fixed_sin for whole steps, mirror included.
    for (int32_t a = -3000; a <= 3000; a++)
        ASSERT_EQ(sin_eighths(a), fixed_sin(a * 8192)) << "eighths " << a;
}

TEST(Render3dTrig, NothingReachesPlusOrMinusOne) {
    // Every Fixed angle of one turn in both signs, plus the extremes.
    for (int32_t a = -FIXED_FULL_TURN; a <= FIXED_FULL_TURN; a += 1) {
        Fixed s = fixed_sin(a);
        if (s > 65535 || s < -65535) FAIL() << "fixed_sin(" << a << ") = " << s;
    }
    const int32_t extremes[] = {INT32_MIN, INT32_MIN + 1, INT32_MAX, INT32_MAX - 1, -1, 1};
    for (int32_t a : extremes) {
        EXPECT_LE(std::abs(fixed_sin(a)), 65535);
        EXPECT_LE(std::abs(fixed_cos(a)), 65535);
        EXPECT_LE(std::abs(sin_eighths(a)), 65535);
    }
    for (int32_t a = -10 * EIGHTHS_FULL_TURN; a <= 10 * EIGHTHS_FULL_TURN; a++)
        ASSERT_LE(std::abs(sin_eighths(a)), 65535) << a;
    // The far ends reduce like any other angle.
    EXPECT_EQ(sin_eighths(INT32_MIN), sin_eighths(INT32_MIN % 2880 + 2880));
    EXPECT_EQ(fixed_sin(INT32_MIN), fixed_sin(INT32_MIN % FIXED_FULL_TURN + FIXED_FULL_TURN));
}

TEST(Render3dTrig, GeneratorReproducesTheCommittedTable) {
    std::string command = std::string(ENGINE_BINARY_DIR) + "/gen_sine_table";
    FILE *pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string generated;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) generated.append(chunk, n);
    ASSERT_EQ(pclose(pipe), 0);
    std::ifstream file(std::string(ENGINE_SOURCE_DIR) + "/src/render3d/sine_table.cpp");
    std::stringstream committed;
    committed << file.rdbuf();
    EXPECT_FALSE(generated.empty());
    EXPECT_EQ(generated, committed.str());
}
