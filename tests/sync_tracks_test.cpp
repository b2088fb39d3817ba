// The sync library where its users meet it: values at fractional rows
// against the formulas, track files and .rocket projects written here and
// read back, and a scripted editor on loopback replaying byte transcripts.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <thread>

#include "sync/sync.h"

#include "support/test_files.h"
#include "support/stderr_capture.h"
#include "support/sync_bytes.h"

namespace {

// The formulas as the sync editor's users read them, by a plain walk.
double model_value(const std::vector<SyncKey> &keys, double row) {
    if (keys.empty()) return 0.0;
    if (!(row >= keys[0].row)) return keys[0].value;
    size_t i = 0;
    while (i + 1 < keys.size() && keys[i + 1].row <= std::floor(row)) i++;
    if (i + 1 == keys.size() || keys[i].interpolation == SYNC_STEP) return keys[i].value;
    const double v0 = keys[i].value, v1 = keys[i + 1].value;
    const double t = (row - keys[i].row) / (static_cast<double>(keys[i + 1].row) - keys[i].row);
    const double shape[] = {0.0, t, t * t * (3.0 - 2.0 * t), t * t};
    return v0 + (v1 - v0) * shape[keys[i].interpolation];
}

std::string dump_keys(const SyncTrack *track) {
    uint32_t count = 0;
    const SyncKey *keys = sync_keys(track, &count);
    std::string out = sync_track_name(track) + std::string(":");
    char one[64];
    for (uint32_t i = 0; i < count; i++) {
        snprintf(one, sizeof one, " %u=%g/%u", keys[i].row, keys[i].value, keys[i].interpolation);
        out += one;
    }
    return out;
}

TEST(SyncValues, EveryTrackShapeFollowsTheFormulasForwardAndJumping) {
    SyncDevice *device = sync_open("/nonexistent/base");
    ASSERT_NE(device, nullptr);
    // Tracks: none, one key, every interpolation with edges, 1000 keys
    // clustered and spread (the index's dense buckets), the widest rows.
    std::vector<std::vector<SyncKey>> shapes = {
        {},
        {{5, 2.5f, SYNC_LINEAR}},
        {{0, 0.0f, SYNC_STEP}, {4, 1.0f, SYNC_LINEAR}, {8, -2.5f, SYNC_SMOOTH}, {16, 3.0f, SYNC_RAMP}, {17, 0.5f, 0}},
        {},
        {{0, -1.0f, SYNC_LINEAR}, {UINT32_MAX, 1.0f, SYNC_SMOOTH}},
    };
    uint32_t seed = 12345;
    auto next = [&seed]() { return seed = seed * 1103515245u + 12345u; };
    for (uint32_t i = 0, row = 3; i < 1000; i++, row += i < 600 ? 1 : 1 + next() % 5000)
        shapes[3].push_back({row, static_cast<float>(next() % 2000) / 7.0f, static_cast<uint8_t>(next() % 4)});
    for (size_t s = 0; s < shapes.size(); s++) {
        const SyncTrack *track = sync_track(device, ("shape" + std::to_string(s)).c_str());
        for (const SyncKey &key : shapes[s]) ASSERT_EQ(sync_set_key(device, track, &key), 0);
        const double last = shapes[s].empty() ? 20.0 : std::min(shapes[s].back().row + 3.0, 3000.0);
        std::vector<double> rows = {std::nan(""), -INFINITY, INFINITY, -1.0, 1e12, 4294967295.5};
        for (double r = -2.0; r <= last; r += 0.37) rows.push_back(r);
        for (const SyncKey &key : shapes[s]) rows.insert(rows.end(), {key.row - 1e-7, key.row + 0.0, key.row + 0.5});
        for (int j = 0; j < 3000; j++) rows.push_back(static_cast<double>(next() % 3100000) / 1.01);
        for (double row : rows) {
            const double expected = model_value(shapes[s], row);
            ASSERT_NEAR(sync_value(track, row), expected, 1e-9 * (1.0 + std::fabs(expected)))
                << "track " << s << " at row " << row;
        }
    }
    EXPECT_EQ(sync_value(nullptr, 1.0), 0.0);
    sync_close(device);
}

// Files a user ships or the editor saves, read back: each committed
// track-file seed as BASE_NAME.track, and .rocket projects. The keys kept
// and the one line naming the file and its fault; a sound one saved again
// is the seed's bytes.
TEST(SyncFiles, TrackFilesAndRocketProjectsAreReadAsFarAsTheyHold) {
    const std::string dir = make_temp_dir("sync_files");
    const std::string good =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<sync rows=\"10000\">\n<tracks>\n"
        "<track name=\"cam:pos.x\" folded=\"0\" color=\"ff0000\">\n"
        "<key row=\"0\" value=\"0\" interpolation=\"0\"/>\n<key row=\"4\" value=\"1\" interpolation=\"1\"/>\n"
        "<key row=\"8\" value=\"-2.5\" interpolation=\"2\"/>\n<key row=\"16\" value=\"3\" interpolation=\"3\"/>\n"
        "<key row=\"17\" value=\"0.5\" interpolation=\"0\"/>\n</track>\n<track name=\"unused\"/>\n</tracks>\n</sync>\n";
    auto seed = [](const char *name) {
        for (const SyncSeed &s : sync_track_file_seeds())
            if (s.name == name) return s.bytes;
        return SyncBytes();
    };
    auto text = [](const std::string &t) { return SyncBytes(t.begin(), t.end()); };
    const std::string track = dir + "/demo_cam-3Apos.x.track", rocket = dir + "/demo.rocket";
    const struct {
        const char *what;
        SyncBytes bytes;
        bool is_rocket;
        int kept;  // -1: not opened
        const char *line;
    } rows[] = {
        {"every_interpolation", seed("every_interpolation"), false, 5, ""},
        {"empty", seed("empty"), false, 0, ""},
        {"count_beyond_size", seed("count_beyond_size"), false, 5, "claims 1000000 keys but holds 5; kept those"},
        {"truncated", seed("truncated"), false, 4, "claims 5 keys but holds 4"},
        {"rows_repeated", seed("rows_repeated"), false, 1,
         "has a row not above the one before at key 1 (row 2); kept the 1 keys before it"},
        {"rows_falling", seed("rows_falling"), false, 1, "has a row not above the one before at key 1 (row 3)"},
        {"interpolation_4", seed("interpolation_4"), false, 0, "has an interpolation above 3 at key 0"},
        {"nan_value", seed("nan_value"), false, 0, "has a value that is not a finite number at key 0"},
        {"infinite_value", seed("infinite_value"), false, 0, "has a value that is not a finite number at key 0"},
        {"trailing_bytes", seed("trailing_bytes"), false, 1, "has 3 bytes after its 1 keys; ignored them"},
        {"short", seed("short"), false, 0, "is 2 bytes, shorter than its key count"},
        {"the editor's save", text(good), true, 5, ""},
        {"interpolation 7", text(std::string(good).replace(good.find("\"3\"/>"), 5, "\"7\"/>")), true, 3,
         "line 8: track 'cam:pos.x' has an interpolation that is not 0 .. 3; kept the 3 keys before it"},
        {"a value beyond float", text(std::string(good).replace(good.find("\"-2.5\""), 6, "\"1e99\"")), true, 2,
         "line 7: track 'cam:pos.x' has a value that is not a finite number; kept the 2 keys before it"},
        {"cut short", text(good.substr(0, 120)), true, -1, "is not well-formed XML: unclosed token at line 5"},
        {"another root", text("<project/>"), true, -1, "is not a sync project: its root is <project>, not <sync>"},
        {"a nameless track", text("<sync><tracks><track/></tracks></sync>"), true, -1, "line 1: a track needs a name"},
    };
    for (const auto &row : rows) {
        const std::string &file = row.is_rocket ? rocket : track;
        ASSERT_TRUE(write_whole_file(file, row.bytes));
        StderrCapture capture;
        ASSERT_EQ(stderr_capture_begin(&capture), 0);
        SyncDevice *device = sync_open(row.is_rocket ? rocket.c_str() : (dir + "/demo").c_str());
        const SyncTrack *t = sync_track(device, "cam:pos.x");
        const std::string line = stderr_capture_end(&capture);
        uint32_t count = 0;
        sync_keys(t, &count);
        EXPECT_EQ(device ? static_cast<int>(count) : -1, row.kept) << row.what;
        if (*row.line)
            EXPECT_TRUE(line.rfind("SYNC: '" + file + "' " + row.line, 0) == 0 && line.find('\n') == line.size() - 1)
                << row.what << ": " << line;
        else
            EXPECT_EQ(line, "") << row.what;
        if (device && !*row.line) {
            ASSERT_EQ(sync_save(device), 0);
            SyncBytes saved;
            ASSERT_TRUE(read_whole_file(track, &saved));
            EXPECT_EQ(saved, row.is_rocket ? seed("every_interpolation") : row.bytes) << row.what;
        }
        sync_close(device);
    }
    EXPECT_EQ(sync_open((dir + "/missing.rocket").c_str()), nullptr);
    char path[64];
    EXPECT_EQ(sync_track_path("b", "a b/\xC3\xBC-_.Z9", path, sizeof path), 27);
    EXPECT_STREQ(path, "b_a-20b/-C3-BC-2D_.Z9.track");
    EXPECT_EQ(sync_track_path("b", "long name", path, 12), -1);
    remove_tree(dir);
}

struct Program {
    std::string calls;
    bool playing = true;
};
const SyncControl CONTROL = {
    [](void *user, int paused) {
        static_cast<Program *>(user)->calls += "pause " + std::to_string(paused) + ";";
        static_cast<Program *>(user)->playing = !paused;
    },
    [](void *user, int row) { static_cast<Program *>(user)->calls += "row " + std::to_string(row) + ";"; },
    [](void *user) { return static_cast<Program *>(user)->playing ? 1 : 0; },
};

// One exchange: what the editor sends, the program's update (its row),
// then what the editor receives, the calls the update made, the tracks'
// keys and the update's result and line.
struct Exchange {
    SyncBytes from_editor;
    int row;
    SyncBytes to_editor;
    const char *calls;
    const char *keys;
    int result;
    const char *line;
};

const float NAN_VALUE = std::numeric_limits<float>::quiet_NaN();
const SyncBytes FIRST_KEY = sync_set_key_bytes(0, 4, 1.5f, 1);
const SyncBytes SPLIT_KEY = sync_set_key_bytes(1, 3, 0.25f, 3);
const std::string REFUSED = "; dropped the connection, keeping the keys\n";

TEST(SyncEditor, ScriptedEditorTranscriptsOnLoopback) {
    const std::string dir = make_temp_dir("sync_editor");
    const std::vector<std::vector<Exchange>> transcripts = {
        {   // keys, replacing, deleting, rows both ways, pause, save, a split command
            {FIRST_KEY + sync_set_key_bytes(1, 8, -3.0f, 2) + sync_set_key_bytes(0, 2, 0.5f, 0), 0,
             sync_set_row_bytes(0), "", "a: 2=0.5/0 4=1.5/1|b:c: 8=-3/2", 0, ""},
            {sync_set_key_bytes(0, 4, 2.0f, 3) + sync_delete_key_bytes(0, 2) + sync_delete_key_bytes(1, 99), 7,
             sync_set_row_bytes(7), "", "a: 4=2/3|b:c: 8=-3/2", 0, ""},
            {{}, 7, {}, "", "a: 4=2/3|b:c: 8=-3/2", 0, ""},
            {sync_pause_bytes(1) + sync_set_row_bytes(12) + sync_set_row_bytes(40), 8, {}, "pause 1;row 40;",
             "a: 4=2/3|b:c: 8=-3/2", 0, ""},
            {sync_pause_bytes(0) + sync_save_bytes(), 40, sync_set_row_bytes(40), "pause 0;", "a: 4=2/3|b:c: 8=-3/2",
             0, ""},
            {SyncBytes(SPLIT_KEY.begin(), SPLIT_KEY.begin() + 6), 40, {}, "", "a: 4=2/3|b:c: 8=-3/2", 0, ""},
            {SyncBytes(SPLIT_KEY.begin() + 6, SPLIT_KEY.end()), 40, {}, "", "a: 4=2/3|b:c: 3=0.25/3 8=-3/2", 0, ""},
        },
        {{FIRST_KEY + SyncBytes{9}, 0, {}, "", "a: 4=1.5/1|b:c:", -1, "an unknown command (9)"}},
        {{FIRST_KEY + sync_set_key_bytes(2, 0, 1.0f, 0), 0, {}, "", "a: 4=1.5/1|b:c:", -1,
          "SET_KEY for a track it was never asked for (2)"}},
        {{FIRST_KEY + sync_delete_key_bytes(5, 0), 0, {}, "", "a: 4=1.5/1|b:c:", -1,
          "DELETE_KEY for a track it was never asked for (5)"}},
        {{FIRST_KEY + sync_set_key_bytes(1, 0, 1.0f, 4), 0, {}, "", "a: 4=1.5/1|b:c:", -1,
          "SET_KEY with an interpolation above 3 (4)"}},
        {{FIRST_KEY + sync_set_key_bytes(1, 0, NAN_VALUE, 0), 0, {}, "", "a: 4=1.5/1|b:c:", -1,
          "SET_KEY with a value that is not a finite number (2143289344)"}},
        {{FIRST_KEY + sync_get_track_head(1u << 30), 0, {}, "", "a: 4=1.5/1|b:c:", -1,
          "GET_TRACK with a name length beyond 255 (1073741824)"}},
        {{FIRST_KEY + sync_get_track_bytes("abc"), 0, {}, "", "a: 4=1.5/1|b:c:", -1,
          "GET_TRACK, which only demos send; name length (3)"}},
    };
    for (size_t n = 0; n < transcripts.size(); n++) {
        SyncEditorEnd editor;
        ASSERT_GT(editor.port, 0);
        SyncDevice *device = sync_open((dir + "/t").c_str());
        const SyncTrack *tracks[] = {sync_track(device, "a"), sync_track(device, "b:c")};
        std::thread answer([&editor] { editor.accept_and_answer(2000); });
        ASSERT_EQ(sync_connect(device, "127.0.0.1", editor.port), 0);
        answer.join();
        EXPECT_EQ(editor.read(100, 100), sync_get_track_bytes("a") + sync_get_track_bytes("b:c"));
        Program program;
        for (size_t e = 0; e < transcripts[n].size(); e++) {
            const Exchange &x = transcripts[n][e];
            const std::string at = "transcript " + std::to_string(n) + " exchange " + std::to_string(e);
            ASSERT_TRUE(editor.send(x.from_editor));
            usleep(20000);
            StderrCapture capture;
            ASSERT_EQ(stderr_capture_begin(&capture), 0);
            EXPECT_EQ(sync_update(device, x.row, &CONTROL, &program), x.result) << at;
            const std::string line = stderr_capture_end(&capture);
            EXPECT_EQ(line, *x.line ? "SYNC: the editor at 127.0.0.1:" + std::to_string(editor.port) + " sent " +
                                          x.line + REFUSED : "") << at;
            EXPECT_EQ(editor.read(100, 50), x.to_editor) << at;
            EXPECT_EQ(program.calls, x.calls) << at;
            program.calls.clear();
            EXPECT_EQ(dump_keys(tracks[0]) + "|" + dump_keys(tracks[1]), x.keys) << at;
            EXPECT_EQ(sync_connected(device), x.result == 0) << at;
        }
        if (n == 0) {
            // SAVE_TRACKS wrote the files; a track made now is asked for at once.
            SyncBytes saved;
            ASSERT_TRUE(read_whole_file(dir + "/t_a.track", &saved));
            EXPECT_EQ(saved, sync_track_file(1, {{4, 2.0f, 3}}));
            sync_track(device, "late");
            EXPECT_EQ(editor.read(100, 100), sync_get_track_bytes("late"));
            // The editor goes away: the keys stay; it returns and is greeted
            // within the next second, the tracks emptied and asked for again.
            editor.drop();
            usleep(20000);
            StderrCapture capture;
            ASSERT_EQ(stderr_capture_begin(&capture), 0);
            EXPECT_EQ(sync_update(device, 41, &CONTROL, &program), -1);
            EXPECT_NE(stderr_capture_end(&capture).find("lost the editor at 127.0.0.1"), std::string::npos);
            EXPECT_EQ(dump_keys(tracks[0]), "a: 4=2/3");
            std::thread back([&editor] { editor.accept_and_answer(3000); });
            for (int i = 0; i < 300 && !sync_connected(device); i++) {
                sync_update(device, 41, &CONTROL, &program);
                usleep(10000);
            }
            back.join();
            EXPECT_EQ(sync_connected(device), 1);
            EXPECT_EQ(dump_keys(tracks[0]), "a:");
            EXPECT_EQ(editor.read(100, 100),
                      sync_get_track_bytes("a") + sync_get_track_bytes("b:c") + sync_get_track_bytes("late") +
                          sync_set_row_bytes(41));
        }
        sync_close(device);
    }
    // No editor there: -1 and one line, at once.
    SyncDevice *device = sync_open((dir + "/t").c_str());
    SyncEditorEnd gone;
    close(gone.listener);
    gone.listener = -1;
    StderrCapture capture;
    ASSERT_EQ(stderr_capture_begin(&capture), 0);
    EXPECT_EQ(sync_connect(device, "127.0.0.1", gone.port), -1);
    EXPECT_NE(stderr_capture_end(&capture).find("SYNC: no editor at 127.0.0.1:"), std::string::npos);
    sync_close(device);
    remove_tree(dir);
}

// The committed seeds of the sync fuzz targets are the builders' bytes;
// SYNC_WRITE_SEEDS=1 rewrites them.
TEST(SyncSeeds, CommittedFuzzSeedsMatchTheBuilders) {
    const char *write = getenv("SYNC_WRITE_SEEDS");
    for (const auto &target : {std::make_pair(std::string("sync_track_file_fuzz"), sync_track_file_seeds()),
                               std::make_pair(std::string("sync_commands_fuzz"), sync_command_seeds())}) {
        const std::string dir = std::string(ENGINE_SOURCE_DIR) + "/fuzz/corpus/" + target.first;
        for (const SyncSeed &seed : target.second) {
            if (write && std::string(write) == "1") {
                ASSERT_EQ(system(("mkdir -p '" + dir + "'").c_str()), 0);
                ASSERT_TRUE(write_whole_file(dir + "/" + seed.name, seed.bytes));
            }
            SyncBytes committed;
            ASSERT_TRUE(read_whole_file(dir + "/" + seed.name, &committed)) << target.first << "/" << seed.name;
            EXPECT_EQ(committed, seed.bytes) << target.first << "/" << seed.name << " is stale";
        }
    }
}

}  // namespace
