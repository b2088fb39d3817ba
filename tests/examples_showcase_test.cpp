// The showcase, captured: it types its intro line by line, and its screen
// flashes on exactly the frames that first hear a kick drum.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "gfx2d/font.h"
#include "gfx2d/framebuffer.h"
#include "gfx2d/glyphs.h"
#include "gfx2d/palette.h"
#include "gfx2d/text_object.h"
#include "music/mod_player.h"
#include "platform/capture.h"
#include "support/program_capture.h"
#include "support/render3d_png.h"
#include "support/test_files.h"

namespace {
const std::string MODULE = ENGINE_SOURCE_DIR "/res/kevo.mod";
struct KickLog {
    bool started;
};
void on_note(void *user, int channel, uint8_t instrument, uint16_t sample, uint16_t, uint8_t) {
    // The song's drums are on channel 1; instrument 5 is the kick, which is
    // a MOD's sample 5.
    if (channel == 1 && instrument == 5 && sample == 5) static_cast<KickLog *>(user)->started = true;
}
}  // namespace

// The showcase types its intro line by line: once it is typed, the white
// pixels of the text's band are exactly those of each line drawn as a text
// of its own on its own row, the block centred at the longest line's width
// (a newline byte would have been drawn as a glyph and broken nothing).
TEST(Showcase, TypesItsIntroLineByLine) {
    const std::string dir = make_temp_dir("capture_intro");
    ASSERT_FALSE(dir.empty());
    const ProcessResult r = run_captured("showcase", dir + "/c", "300");
    ASSERT_EQ(r.status, 0) << r.err;
    RgbPicture picture;
    std::string error;
    ASSERT_TRUE(png_read_rgb(dir + "/c/frame_000299.png", &picture, &error)) << error;

    const char *const lines[] = {"KEVO ENGINE", "", "EVERY PICTURE HERE", "IS DRIVEN BY THE MUSIC", "AS IT IS HEARD"};
    const int32_t glyph_px = 8, line_px = 16, top_px = 40, left_px = (400 - 22 * glyph_px) / 2;
    fb_attach_storage();
    fb_clear();
    Font *font = font_new(glyphs_8x16, glyph_px, line_px);
    ASSERT_NE(font, nullptr);
    set_draw_color(PALETTE_WHITE);
    for (int k = 0; k < 5; k++) {
        TextObject *line = text_new(font, 64, UINT32_MAX, left_px, top_px + k * line_px);
        ASSERT_NE(line, nullptr);
        text_append(line, lines[k]);
        text_draw(line);
        text_free(line);
    }
    font_free(font);
    const uint32_t white = Palette[PALETTE_WHITE];
    int lit = 0, differ = 0;
    for (int y = top_px; y < top_px + 5 * line_px; y++)
        for (int x = 0; x < 400; x++) {
            const uint8_t *shown = &picture.rgb[(y * 400 + x) * 3];
            const bool shown_white = shown[0] == (white >> 24) && shown[1] == (white >> 16 & 0xFF) &&
                                     shown[2] == (white >> 8 & 0xFF);
            const bool drawn = fb_pixels[y * 400 + x] == PALETTE_WHITE;
            lit += drawn;
            differ += shown_white != drawn;
        }
    EXPECT_GT(lit, 1000);
    EXPECT_EQ(differ, 0);
    remove_tree(dir);
}

// The showcase, captured for a few seconds of the verse: deterministic, its
// sound is the song, and the screen flashes on exactly the frames that
// first hear a kick drum.
TEST(Showcase, FlashesOnTheFramesThatHearAKick) {
    const std::string dir = make_temp_dir("capture_showcase");
    ASSERT_FALSE(dir.empty());
    const int frames = 150;
    const ProcessResult first = run_captured("showcase", dir + "/a", std::to_string(frames), {}, {"KEVO_FROM=2:0"});
    ASSERT_EQ(first.status, 0) << first.err;
    ASSERT_EQ(run_captured("showcase", dir + "/b", std::to_string(frames), {}, {"KEVO_FROM=2:0"}).status, 0);
    const std::vector<std::string> names = directory_names(dir + "/a");
    ASSERT_EQ(names.size(), static_cast<size_t>(frames) + 1);
    for (const std::string &name : names)
        ASSERT_TRUE(bytes_of(dir + "/a/" + name) == bytes_of(dir + "/b/" + name)) << name;

    // Where the kicks fall, from a player of our own moved to the same row
    // and rendered a frame at a time.
    std::vector<uint8_t> module = bytes_of(MODULE);
    ModPlayer *p = mod_player_create(44100, module.data(), static_cast<long>(module.size()));
    ASSERT_NE(p, nullptr);
    const int64_t start = mod_player_seek(p, 2, 0);
    ASSERT_GT(start, 0);
    KickLog kick = {false};
    std::vector<int64_t> kicks;  // song frames
    // The row sought starts inside the seek: the player tells its notes,
    // its kick among them, when asked before anything is rendered.
    mod_player_set_note_callback(p, on_note, &kick);
    mod_player_announce_row(p);
    if (kick.started) kicks.push_back(start);
    kick.started = false;
    int32_t scratch[2];
    const int64_t heard_last = start + capture_audio_frames_after(frames - 1);
    for (int64_t f = start + 1; f <= heard_last; f++) {
        mod_player_render(p, scratch, 1);
        if (kick.started) kicks.push_back(f);
        kick.started = false;
    }
    mod_player_destroy(p);
    ASSERT_GE(kicks.size(), 4u);

    int flashes = 0;
    for (int k = 0; k < frames; k++) {
        const int64_t heard = start + capture_audio_frames_after(k);
        const int64_t before = k > 0 ? start + capture_audio_frames_after(k - 1) : start - 1;
        bool expected = false;
        for (int64_t f : kicks) expected |= f > before && f <= heard;
        char name[64];
        snprintf(name, sizeof name, "/a/frame_%06d.png", k);
        RgbPicture picture;
        std::string error;
        ASSERT_TRUE(png_read_rgb(dir + name, &picture, &error)) << error;
        // The bottom-left corner is background: the flash's brightest grey
        // (palette 26: 90 90 90) only on the frame that first hears the kick.
        const uint8_t *corner = &picture.rgb[(239 * 400 + 0) * 3];
        const bool lit = corner[0] == 0x90 && corner[1] == 0x90 && corner[2] == 0x90;
        EXPECT_EQ(lit, expected) << "frame " << k;
        flashes += lit;
    }
    EXPECT_EQ(flashes, static_cast<int>(kicks.size()));

    std::vector<uint8_t> wav = bytes_of(dir + "/a/audio.wav");
    EXPECT_EQ(wav.size(), 44u + 4u * static_cast<size_t>(capture_audio_frames_after(frames)));

    // It ends by itself, status 0, before drawing the first frame that
    // hears the song's end.
    p = mod_player_create(44100, module.data(), static_cast<long>(module.size()));
    ASSERT_NE(p, nullptr);
    const int64_t near_end = mod_player_seek(p, 10, 56);
    const int64_t song_end = mod_song_length(p, 44100LL * 3600, nullptr);
    mod_player_destroy(p);
    long last = 0;
    while (near_end + capture_audio_frames_after(last) < song_end) last++;
    const ProcessResult end = run_captured("showcase", dir + "/end", "300", {}, {"KEVO_FROM=10:56"});
    EXPECT_EQ(end.status, 0) << end.err;
    EXPECT_EQ(directory_names(dir + "/end").size() - 1, static_cast<size_t>(last));
    remove_tree(dir);
}

