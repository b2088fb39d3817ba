// A program's sync rows: on the engine's clock at the rate it sets when
// there is no music, and on res/kevo.mod's played rows with a scripted
// editor on loopback pausing, seeking and keying it, each in force in the
// update that takes it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <unistd.h>

#include "platform/audio_output.h"
#include "platform/engine_clock.h"
#include "platform/music_start.h"
#include "platform/music_sync.h"
#include "platform/sync_rows.h"

#include "support/sync_bytes.h"
#include "support/test_files.h"

namespace {

TEST(SyncRows, WithoutMusicRowsCountAtTheRateSetAndTheEditorMovesThem) {
    const std::string dir = make_temp_dir("sync_rows");
    engine_clock_make_virtual();
    SyncRows rows;
    unsetenv("KEVO_SYNC");
    ASSERT_EQ(sync_rows_start(&rows, (dir + "/t").c_str()), 0);
    // Each row: the clock's step, then a control call, and the row after.
    struct Step {
        uint32_t advance_ms;
        int pause;         // -1 none
        int set_row;       // -1 none
        double bpm;        // 0 none
        double row;
    };
    const Step steps[] = {
        {1200, -1, -1, 0, 10.0},        // 125 bpm x 4 rows a beat: 8 1/3 rows a second
        {0, -1, -1, 120, 10.0},         // 8 rows a second from here
        {500, -1, -1, 0, 14.0},
        {0, 1, -1, 0, 14.0},            // paused: the row stands
        {3000, -1, -1, 0, 14.0},
        {0, -1, 40, 0, 40.0},           // the editor's cursor, paused
        {0, 0, -1, 0, 40.0},
        {250, -1, -1, 0, 42.0},
        {0, -1, 7, 0, 7.0},             // while playing
        {125, -1, -1, 0, 8.0},
        {0, -1, -1, 2000, 8.0},         // a rate out of range changes nothing
        {125, -1, -1, 0, 9.0},
    };
    for (const Step &s : steps) {
        engine_clock_advance(s.advance_ms);
        if (s.pause >= 0) SYNC_ROWS_CONTROL.pause(&rows, s.pause);
        if (s.set_row >= 0) SYNC_ROWS_CONTROL.set_row(&rows, s.set_row);
        if (s.bpm > 0) sync_rows_set_rate(&rows, s.bpm, 4);
        EXPECT_DOUBLE_EQ(sync_rows_update(&rows), s.row) << "at " << engine_clock.virtual_ms << " ms";
        EXPECT_EQ(SYNC_ROWS_CONTROL.is_playing(&rows), !rows.paused);
    }
    sync_rows_stop(&rows);
    engine_clock.is_virtual = false;
    remove_tree(dir);
}

TEST(SyncRows, TheEditorPausesSeeksToAPlayedRowAndKeysWithinTheUpdate) {
    const std::string dir = make_temp_dir("sync_rows_music");
    ASSERT_EQ(music_start_file(ENGINE_SOURCE_DIR "/res/kevo.mod"), 0);
    SyncEditorEnd editor;
    setenv("KEVO_SYNC", ("127.0.0.1:" + std::to_string(editor.port)).c_str(), 1);
    std::thread answer([&editor] { editor.accept_and_answer(2000); });
    SyncRows rows;
    ASSERT_EQ(sync_rows_start(&rows, (dir + "/t").c_str()), 0);
    unsetenv("KEVO_SYNC");
    answer.join();
    ASSERT_EQ(sync_connected(rows.device), 1);
    const SyncTrack *fade = sync_track(rows.device, "fade");
    EXPECT_EQ(editor.read(100, 200), sync_get_track_bytes("fade"));
    audio_unpause();

    // Pause, go to played row 300 and key it: all in force in the update
    // that takes them, the music standing at that row's first frame.
    ASSERT_TRUE(editor.send(sync_pause_bytes(1) + sync_set_row_bytes(300) + sync_set_key_bytes(0, 300, 0.75f, 0)));
    usleep(20000);
    const double row = sync_rows_update(&rows);
    EXPECT_EQ(row, 300.0);
    EXPECT_EQ(sync_value(fade, row), 0.75);
    ModPlayer *fresh = mod_player_create(AUDIO_RATE_HZ, music_data, music_size);
    mod_player_set_loop(fresh, 1);
    MusicPosition heard;
    ASSERT_EQ(music_heard_position(&heard), 0);
    EXPECT_EQ(heard.song_frame, mod_player_seek_played_row(fresh, 300));
    mod_player_destroy(fresh);
    usleep(150000);
    EXPECT_EQ(sync_rows_update(&rows), 300.0) << "paused, the row stands";
    EXPECT_EQ(editor.read(100, 50), SyncBytes()) << "paused, the editor is not told rows";

    ASSERT_TRUE(editor.send(sync_pause_bytes(0)));
    usleep(20000);
    sync_rows_update(&rows);
    usleep(300000);
    const double later = sync_rows_update(&rows);
    EXPECT_GT(later, 300.5);
    EXPECT_LT(later, 306.0);
    // Playing, the editor's cursor follows the whole rows.
    const SyncBytes told = editor.read(100, 100);
    ASSERT_GE(told.size(), 5u);
    EXPECT_EQ(SyncBytes(told.end() - 5, told.end()), sync_set_row_bytes(static_cast<uint32_t>(later)));

    sync_rows_stop(&rows);
    music_stop();
    remove_tree(dir);
}

}  // namespace
