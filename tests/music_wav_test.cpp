// Rendered audio checked by an independent tool: the player's output is
// written as WAV files and measured with sox (pitch of a known note,
// amplitude of a known sample, length and channel layout of a song).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "music/mod_player.h"
#include "support/music_modbuilder.h"
#include "support/music_playback.h"
#include "support/platform_tools.h"

namespace {

void put_le(std::vector<uint8_t> &out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; i++) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// Writes 16-bit stereo PCM at `rate` as a canonical 44-byte-header WAV.
bool write_wav(const std::string &path, const std::vector<int16_t> &samples, int rate) {
    std::vector<uint8_t> out;
    uint32_t data_bytes = static_cast<uint32_t>(samples.size() * 2);
    out.insert(out.end(), {'R', 'I', 'F', 'F'});
    put_le(out, 36 + data_bytes, 4);
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put_le(out, 16, 4);
    put_le(out, 1, 2);              // PCM
    put_le(out, 2, 2);              // channels
    put_le(out, rate, 4);
    put_le(out, rate * 4, 4);       // bytes per second
    put_le(out, 4, 2);              // bytes per frame
    put_le(out, 16, 2);             // bits per sample
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    put_le(out, data_bytes, 4);
    for (int16_t s : samples) put_le(out, static_cast<uint16_t>(s), 2);
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(out.data(), 1, out.size(), f) == out.size();
    return fclose(f) == 0 && ok;
}

// Runs a sox command and returns the value after `label` in its report
// (sox prints its statistics on standard error), or NAN.
double sox_value(const std::string &command, const std::string &label) {
    EXPECT_EQ(missing_tool("sox", "sox"), "");
    FILE *pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return NAN;
    char line[512];
    double value = NAN;
    while (fgets(line, sizeof line, pipe)) {
        std::string text(line);
        size_t at = text.find(label);
        if (at == 0) value = atof(text.c_str() + text.find(':') + 1);
    }
    pclose(pipe);
    return value;
}

std::string out_path(const char *name) {
    return std::string(ENGINE_BINARY_DIR) + "/" + name;
}

}  // namespace

TEST(MusicWav, NotePitchAndAmplitudeMeasuredBySox) {
    // A 32-byte sine cycle at period 428 (8287 Hz): 8287 / 32 = 259 Hz on
    // the left only, peak 100 x 256 / 2 at volume 64.
    ModBuilder b;
    modbuilder_init(&b);
    modbuilder_set_sample(&b, 1, modbuilder_sine(3200, 32, 100), 64, 0, 0, 3200);
    modbuilder_set_cell(&b, 0, 0, 0, 1, 428, 0);
    std::vector<uint8_t> bytes = modbuilder_build(&b);
    ModPlayer *p = mod_player_create(44100, bytes.data(), static_cast<long>(bytes.size()));
    ASSERT_NE(p, nullptr);
    std::vector<int16_t> out = music_render_s16(p, 44100 * 2);
    mod_player_destroy(p);
    std::string path = out_path("music_note.wav");
    ASSERT_TRUE(write_wav(path, out, 44100));

    std::string left = "sox " + path + " -n remix 1 trim 0.5 1 stat";
    double freq = sox_value(left, "Rough   frequency");
    EXPECT_NEAR(freq, 8287.0 / 32, 8287.0 / 32 * 0.02);
    double max_amp = sox_value(left, "Maximum amplitude");
    EXPECT_NEAR(max_amp, 100.0 * 128 / 32768, 0.01);
    double right = sox_value("sox " + path + " -n remix 2 stat", "Maximum amplitude");
    EXPECT_EQ(right, 0.0);
}

TEST(MusicWav, BusySongLengthAndLevelMeasuredBySox) {
    ModBuilder b;
    modbuilder_busy_song(&b);
    std::vector<uint8_t> bytes = modbuilder_build(&b);
    ModPlayer *p = mod_player_create(44100, bytes.data(), static_cast<long>(bytes.size()));
    ASSERT_NE(p, nullptr);
    // Looping off: render until the song ends, in device-sized buffers.
    std::vector<int16_t> song;
    std::vector<int16_t> buffer(2 * 1024);
    long frames_with_sound = 0;
    while (!mod_player_is_finished(p) && song.size() < 2u * 44100 * 60) {
        mod_player_render_s16(p, buffer.data(), 1024);
        song.insert(song.end(), buffer.begin(), buffer.end());
    }
    mod_player_destroy(p);
    for (size_t i = 0; i < song.size(); i++) frames_with_sound += song[i] != 0;
    std::string path = out_path("music_busy.wav");
    ASSERT_TRUE(write_wav(path, song, 44100));
    // 6 ticks before the first row, then 4 positions of 64 rows at speed 5
    // (row 0 sets it); the last buffer may run past the end by < 1024 frames.
    double expected_seconds = (6 + 256 * 5) * 882.0 / 44100;
    double length = sox_value("sox " + path + " -n stat", "Length (seconds)");
    EXPECT_GE(length, expected_seconds);
    EXPECT_LT(length, expected_seconds + 1024.0 / 44100 + 1e-6);
    double rms = sox_value("sox " + path + " -n stat", "RMS     amplitude");
    EXPECT_GT(rms, 0.05);
    EXPECT_LT(rms, 0.5);
    EXPECT_GT(frames_with_sound, static_cast<long>(song.size() / 2));
}
