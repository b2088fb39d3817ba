// The typewriter and the jittering text group: reveal timing, finishing,
// re-roll timing, offsets, layout, colours and the random numbers taken.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "gfx2d/font.h"
#include "gfx2d/framebuffer.h"
#include "gfx2d/glyphs.h"
#include "gfx2d/text_group.h"
#include "gfx2d/text_object.h"
#include "gfx2d/typewriter.h"
#include "support/gfx2d_canvas.h"
#include "util/alloc.h"

typedef std::vector<std::pair<int32_t, int32_t>> Points;

// A typewriter over a fresh text object in a 32 x 32 dot font (one ink
// pixel per glyph, at its top-left), so drawing shows as one pixel per
// revealed character.
struct TypewriterRig {
    std::vector<uint8_t> dots = dot_glyph_set(32, 32);
    Font *font = font_new(dots.data(), 32, 32);
    TextObject *target = text_new(font, 64, 4294967295u, 0, 0);
    Typewriter *typewriter = typewriter_new(target, 5);
    ~TypewriterRig() {
        typewriter_free(typewriter);
        text_free(target);
        font_free(font);
    }
    // One update; also reports whether it drew anything.
    bool update(int32_t now, bool *drew) {
        canvas_reset();
        const std::vector<uint8_t> before = canvas_snapshot();
        const bool done = typewriter_update(typewriter, now);
        *drew = canvas_snapshot() != before;
        return done;
    }
};

TEST(TextTypewriter, RevealsOneCharacterPerIntervalAndFinishes) {
    TypewriterRig rig;
    ASSERT_NE(rig.typewriter, nullptr);
    EXPECT_EQ(rig.typewriter->position, 0);
    EXPECT_EQ(rig.typewriter->last_time, -1);
    EXPECT_EQ(rig.typewriter->source, nullptr);
    typewriter_set_text(rig.typewriter, "hi");
    EXPECT_EQ(rig.typewriter->length, 2u);
    // Interval 5, clock 0..10: the first character at 5; the second needs
    // more than 5 after 5, so at 10 only one is shown.
    bool drew = false;
    for (int32_t now = 0; now <= 10; now++) {
        EXPECT_FALSE(rig.update(now, &drew)) << now;
        EXPECT_STREQ(rig.target->text, now < 5 ? "" : "h") << now;
    }
    EXPECT_TRUE(drew);  // the revealed text is drawn each frame
    EXPECT_EQ(rig.typewriter->last_time, 5);
    // The call that reveals the last character draws it and reports done.
    EXPECT_TRUE(rig.update(11, &drew));
    EXPECT_STREQ(rig.target->text, "hi");
    EXPECT_TRUE(drew);
    // Finished: true without drawing.
    EXPECT_TRUE(rig.update(100, &drew));
    EXPECT_FALSE(drew);

    // A new text on a finished typewriter empties the target and starts
    // again; the timing carries on from the last reveal (11).
    typewriter_set_text(rig.typewriter, "ok");
    EXPECT_STREQ(rig.target->text, "");
    EXPECT_FALSE(rig.update(16, &drew));
    EXPECT_STREQ(rig.target->text, "");
    EXPECT_FALSE(rig.update(17, &drew));
    EXPECT_STREQ(rig.target->text, "o");
    // However much time has passed, one character per call.
    typewriter_set_text(rig.typewriter, "abc");
    EXPECT_FALSE(rig.update(1000000, &drew));
    EXPECT_STREQ(rig.target->text, "a");
}

TEST(TextTypewriter, IntervalZeroNeedsTheClockToMove) {
    TypewriterRig rig;
    typewriter_set_interval(rig.typewriter, 0);
    EXPECT_EQ(rig.typewriter->interval, 0);
    typewriter_set_text(rig.typewriter, "abc");
    bool drew;
    rig.update(0, &drew);  // 0 > -1 + 0
    EXPECT_STREQ(rig.target->text, "a");
    rig.update(0, &drew);  // same clock: no reveal
    EXPECT_STREQ(rig.target->text, "a");
    rig.update(1, &drew);
    EXPECT_STREQ(rig.target->text, "ab");
    EXPECT_TRUE(rig.update(2, &drew));
    EXPECT_STREQ(rig.target->text, "abc");
}

TEST(TextTypewriter, EmptyOrMissingTextIsFinishedAndDrawsNothing) {
    TypewriterRig rig;
    bool drew = true;
    // Never given a text.
    EXPECT_TRUE(rig.update(100, &drew));
    EXPECT_FALSE(drew);
    typewriter_set_text(rig.typewriter, "");
    EXPECT_TRUE(rig.update(100, &drew));
    EXPECT_FALSE(drew);
    typewriter_set_text(rig.typewriter, nullptr);
    EXPECT_TRUE(rig.update(100, &drew));
    EXPECT_FALSE(drew);
    EXPECT_TRUE(typewriter_update(nullptr, 5));
    typewriter_set_text(nullptr, "x");
    typewriter_set_interval(nullptr, 3);
    typewriter_free(nullptr);
    alloc_fail_after(0);
    EXPECT_EQ(typewriter_new(rig.target, 1), nullptr);
    alloc_fail_after(-1);
}

TEST(TextTypewriter, LastRevealNearTheEndOfTheClockDoesNotWrap) {
    TypewriterRig rig;
    typewriter_set_text(rig.typewriter, "ab");
    rig.typewriter->last_time = INT32_MAX - 2;
    // last_time + interval would wrap to a negative value in 32 bits and
    // reveal at once; INT32_MAX is only 2 after the last reveal.
    bool drew;
    rig.update(INT32_MAX, &drew);
    EXPECT_STREQ(rig.target->text, "");
}

// How many rand() values a call took, found by replaying the sequence
// from a seed.
class RandCounter {
   public:
    explicit RandCounter(unsigned seed) {
        srand(seed);
        for (int i = 0; i < 4096; i++) sequence_.push_back(rand());
        srand(seed);
        next_ = 0;
    }
    // The values the last step took, and starts counting anew.
    std::vector<int> taken() {
        const int probe = rand();
        size_t at = next_;
        while (at < sequence_.size() && sequence_[at] != probe) at++;
        std::vector<int> values(sequence_.begin() + next_, sequence_.begin() + at);
        // Continue right after the probe.
        next_ = at + 1;
        return values;
    }
    int value(size_t i) const { return sequence_[i]; }

   private:
    std::vector<int> sequence_;
    size_t next_;
};

TEST(TextGroup, RerollsOnEveryPeriodPlusSecondCallTakingThreeRandsPerCharacter) {
    std::vector<uint8_t> dots = dot_glyph_set(32, 32);
    Font *font = font_new(dots.data(), 32, 32);
    for (int32_t period : {0, 3, -1, -50}) {
        TextGroup *group = text_group_new(font, 0, 0, 10, 10, period);
        ASSERT_NE(group, nullptr);
        ASSERT_EQ(text_group_set_text(group, "ab"), 0);
        canvas_reset();
        RandCounter counter(1234);
        counter.taken();
        std::vector<int> rerolls;
        for (int call = 1; call <= 15; call++) {
            text_group_update(group);
            const size_t taken = counter.taken().size();
            if (taken == 6) {
                rerolls.push_back(call);
            } else {
                EXPECT_EQ(taken, 2u) << "period " << period << " call " << call;
            }
        }
        if (period == 0) {
            EXPECT_EQ(rerolls, (std::vector<int>{2, 4, 6, 8, 10, 12, 14}));
        } else if (period == 3) {
            EXPECT_EQ(rerolls, (std::vector<int>{5, 10, 15}));
        } else {
            EXPECT_EQ(rerolls.size(), 15u) << period;
        }
        EXPECT_EQ(text_group_clear(group), 0);
        text_group_free(group);
    }
    font_free(font);
}

TEST(TextGroup, OffsetsStayInRangeAndFollowTheRandOrder) {
    std::vector<uint8_t> dots = dot_glyph_set(8, 8);
    Font *font = font_new(dots.data(), 8, 8);
    for (int32_t range : {10, 11, 1}) {
        TextGroup *group = text_group_new(font, 100, 50, range, range + 2, -1);
        ASSERT_EQ(text_group_set_text(group, "xyz"), 0);
        const int32_t range_y = range + 2;
        int32_t low = INT32_MAX, high = INT32_MIN;
        for (int round = 0; round < 200; round++) {
            RandCounter counter(77 + round);
            canvas_reset();
            text_group_update(group);  // period -1: every call re-rolls
            const std::vector<int> taken = counter.taken();
            ASSERT_EQ(taken.size(), 9u);
            for (int i = 0; i < 3; i++) {
                const TextObject *object = static_cast<const TextObject *>(group->items->items[i]);
                // x then y then colour, character by character.
                const int32_t dx = taken[i * 3] % range - range / 2;
                const int32_t dy = taken[i * 3 + 1] % range_y - range_y / 2;
                EXPECT_EQ(object->x, 100 + dx + i * 8);
                EXPECT_EQ(object->y, 50 + dy);
                low = std::min(low, object->x - 100 - i * 8);
                high = std::max(high, object->x - 100 - i * 8);
            }
            // The last colour drawn stays in draw_color.
            EXPECT_EQ(draw_color, taken[8] % 256);
        }
        // Range 10: -5..4; 11: -5..5; 1: always 0.
        EXPECT_EQ(low, -(range / 2));
        EXPECT_EQ(high, range - 1 - range / 2);
        text_group_clear(group);
        text_group_free(group);
    }
    font_free(font);
}

TEST(TextGroup, TwoCharactersLaidOutOneGlyphApartAndOneLineDown) {
    std::vector<uint8_t> dots = dot_glyph_set(32, 32);
    Font *font = font_new(dots.data(), 32, 32);
    TextGroup *group = text_group_new(font, 100, 50, 1, 1, 0);
    ASSERT_EQ(text_group_set_text(group, "Hi"), 0);
    ASSERT_EQ(group->items->count, 2u);
    // Before the first re-roll both stand at (0, 0) and draw at (0, 32).
    canvas_reset();
    std::vector<uint8_t> before = canvas_snapshot();
    text_group_update(group);
    EXPECT_EQ(canvas_changes(before, canvas_snapshot()), (Points{{0, 32}}));
    // Call 2 re-rolls: (100, 82) and (132, 82).
    canvas_reset();
    before = canvas_snapshot();
    text_group_update(group);
    EXPECT_EQ(canvas_changes(before, canvas_snapshot()), (Points{{100, 82}, {132, 82}}));
    // A new origin waits for the next re-roll.
    text_group_set_position(group, 10, 20);
    EXPECT_EQ(group->origin_x, 10);
    EXPECT_EQ(group->origin_y, 20);
    canvas_reset();
    before = canvas_snapshot();
    text_group_update(group);
    EXPECT_EQ(canvas_changes(before, canvas_snapshot()), (Points{{100, 82}, {132, 82}}));
    canvas_reset();
    before = canvas_snapshot();
    text_group_update(group);
    EXPECT_EQ(canvas_changes(before, canvas_snapshot()), (Points{{10, 52}, {42, 52}}));
    // Text is added after what is there.
    ASSERT_EQ(text_group_set_text(group, "!"), 0);
    ASSERT_EQ(group->items->count, 3u);
    EXPECT_STREQ(static_cast<TextObject *>(group->items->items[2])->text, "!");
    EXPECT_EQ(static_cast<TextObject *>(group->items->items[2])->capacity, 2u);
    EXPECT_EQ(static_cast<TextObject *>(group->items->items[2])->wrap_width, 2u);
    EXPECT_EQ(text_group_clear(group), 0);
    EXPECT_EQ(group->items->count, 0u);
    text_group_free(group);
    font_free(font);
}

TEST(TextGroup, EmptyGroupTakesNoRandButCounts) {
    TextGroup *group = text_group_new(nullptr, 0, 0, 4, 4, 1);
    ASSERT_NE(group, nullptr);
    canvas_reset();
    const std::vector<uint8_t> before = canvas_snapshot();
    RandCounter counter(99);
    text_group_update(group);
    text_group_update(group);
    EXPECT_TRUE(counter.taken().empty());
    EXPECT_EQ(group->counter, 2);
    text_group_update(group);  // 2 > period 1: re-roll
    EXPECT_EQ(group->counter, 0);
    EXPECT_EQ(canvas_snapshot(), before);
    text_group_set_period(group, 7);
    EXPECT_EQ(group->period, 7);
    text_group_free(group);
}

TEST(TextGroup, JitterBelowOneActsAsOne) {
    std::vector<uint8_t> dots = dot_glyph_set(8, 8);
    Font *font = font_new(dots.data(), 8, 8);
    TextGroup *group = text_group_new(font, 30, 40, 0, -5, -1);
    EXPECT_EQ(group->jitter_x, 1);
    EXPECT_EQ(group->jitter_y, 1);
    text_group_set_jitter(group, -1, 3);
    EXPECT_EQ(group->jitter_x, 1);
    EXPECT_EQ(group->jitter_y, 3);
    ASSERT_EQ(text_group_set_text(group, "ab"), 0);
    // Even ranges of 0 written into the record directly.
    group->jitter_x = 0;
    group->jitter_y = 0;
    canvas_reset();
    text_group_update(group);
    const TextObject *second = static_cast<const TextObject *>(group->items->items[1]);
    EXPECT_EQ(second->x, 38);
    EXPECT_EQ(second->y, 40);
    // Freeing the group leaves its character objects to the caller.
    TextObject *first = static_cast<TextObject *>(group->items->items[0]);
    TextObject *last = static_cast<TextObject *>(group->items->items[1]);
    text_group_free(group);
    EXPECT_STREQ(first->text, "a");
    EXPECT_STREQ(last->text, "b");
    text_free(first);
    text_free(last);
    font_free(font);
}

TEST(TextGroup, SetTextReportsWhetherEveryCharacterWasStored) {
    std::vector<uint8_t> dots = dot_glyph_set(8, 8);
    Font *font = font_new(dots.data(), 8, 8);
    TextGroup *group = text_group_new(font, 0, 0, 1, 1, 0);
    EXPECT_EQ(text_group_set_text(group, ""), 0);
    EXPECT_EQ(text_group_set_text(group, nullptr), -1);
    EXPECT_EQ(text_group_set_text(nullptr, "a"), -1);
    // Each character object takes two allocations: the third character's
    // first one fails.
    alloc_fail_after(4);
    EXPECT_EQ(text_group_set_text(group, "abcd"), -1);
    alloc_fail_after(-1);
    ASSERT_EQ(group->items->count, 2u);
    EXPECT_STREQ(static_cast<TextObject *>(group->items->items[1])->text, "b");
    text_group_clear(group);
    // The 17th character needs the vector to grow past 16; that fails, and
    // its object is released.
    alloc_fail_after(17 * 2);
    EXPECT_EQ(text_group_set_text(group, "abcdefghijklmnopq"), -1);
    alloc_fail_after(-1);
    EXPECT_EQ(group->items->count, 16u);
    EXPECT_EQ(text_group_set_text(group, "q"), 0);
    EXPECT_EQ(group->items->count, 17u);
    text_group_clear(group);
    EXPECT_EQ(text_group_clear(nullptr), -1);
    text_group_free(group);
    text_group_free(nullptr);
    text_group_update(nullptr);
    text_group_set_position(nullptr, 1, 1);
    text_group_set_jitter(nullptr, 1, 1);
    text_group_set_period(nullptr, 1);
    // Constructor failures: the record, then the vector.
    alloc_fail_after(0);
    EXPECT_EQ(text_group_new(font, 0, 0, 1, 1, 0), nullptr);
    alloc_fail_after(1);
    EXPECT_EQ(text_group_new(font, 0, 0, 1, 1, 0), nullptr);
    alloc_fail_after(-1);
    font_free(font);
}
