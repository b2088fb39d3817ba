// The sync tracks' costs. sync_value on 100 tracks of 1,000 keys (every interpolation, rows 1 to 15
// apart) against a plain binary search over the same keys with the same
// formulas, timed side by side (support/bench_side_by_side.h: `ratio` is
// sync_value's time over the search's). Rows advance one frame at a time
// (a 60 Hz frame at 8.3 rows a second, a MOD's speed 6 at 125 bpm), or jump
// anywhere between calls.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "music/mod_player.h"
#include "sync/sync.h"

#include "support/bench_side_by_side.h"

static const int BENCH_TRACKS = 100;
static const int BENCH_KEYS = 1000;
static const double BENCH_ROWS_PER_FRAME = 125.0 * 4.0 / 60.0 / 60.0;

struct BenchTracks {
    SyncDevice *device = nullptr;
    std::vector<const SyncTrack *> tracks;
    double last_row = 0.0;
};

static const BenchTracks &bench_tracks(void) {
    static BenchTracks b;
    if (b.device) return b;
    b.device = sync_open("/nonexistent/bench");
    std::mt19937 random(12345);
    for (int t = 0; t < BENCH_TRACKS; t++) {
        const SyncTrack *track = sync_track(b.device, ("track" + std::to_string(t)).c_str());
        uint32_t row = 0;
        for (int k = 0; k < BENCH_KEYS; k++) {
            row += 1 + random() % 15;
            const SyncKey key = {row, static_cast<float>(random() % 1000) / 10.0f,
                                 static_cast<uint8_t>(random() % 4)};
            sync_set_key(b.device, track, &key);
        }
        b.last_row = std::max(b.last_row, static_cast<double>(row));
        b.tracks.push_back(track);
    }
    return b;
}

// The reference: the key at or before the row by std::upper_bound, then
// the same formulas.
static double binary_value(const SyncTrack *track, double row) {
    uint32_t count = 0;
    const SyncKey *keys = sync_keys(track, &count);
    if (count == 0) return 0.0;
    if (!(row >= keys[0].row)) return keys[0].value;
    const SyncKey *after = std::upper_bound(keys, keys + count, row,
                                            [](double r, const SyncKey &k) { return r < k.row; });
    if (after == keys + count) return keys[count - 1].value;
    const SyncKey *k = after - 1;
    const double v0 = k->value;
    if (k->interpolation == SYNC_STEP) return v0;
    const double t = (row - k->row) / (static_cast<double>(after->row) - k->row);
    const double dv = static_cast<double>(after->value) - v0;
    switch (k->interpolation) {
    case SYNC_LINEAR: return v0 + dv * t;
    case SYNC_SMOOTH: return v0 + dv * t * t * (3.0 - 2.0 * t);
    default: return v0 + dv * t * t;
    }
}

// Every track at each of `rows` in turn, as a frame reads them.
template <typename Value>
static void read_rows(const BenchTracks &b, const std::vector<double> &rows, Value value) {
    double sum = 0.0;
    for (double row : rows)
        for (const SyncTrack *track : b.tracks) sum += value(track, row);
    benchmark::DoNotOptimize(sum);
}

static void BM_SyncValueVsBinarySearch(benchmark::State &state) {
    const BenchTracks &b = bench_tracks();
    std::vector<double> rows;
    if (state.range(0) == 0) {
        for (double row = 0.0; row < b.last_row; row += BENCH_ROWS_PER_FRAME) rows.push_back(row);
    } else {
        std::mt19937 random(777);
        for (int i = 0; i < 20000; i++) rows.push_back(std::uniform_real_distribution<double>(0.0, b.last_row)(random));
    }
    bench_side_by_side(
        state, rows.size() * b.tracks.size(), [&] { read_rows(b, rows, sync_value); },
        [&] { read_rows(b, rows, binary_value); });
    state.SetLabel(state.range(0) == 0 ? "a frame at a time" : "jumping");
}
BENCHMARK(BM_SyncValueVsBinarySearch)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The editor's seek: res/kevo.mod, looping, moved to the played row 10
// minutes in (mod_player_seek_played_row, a scan of the clock and then of
// the voices), against rendering the 10 minutes from the start. `equal` is
// 1 when the 5 seconds rendered after the seek are the same samples as the
// render from the start gives there.
static void BM_SeekToPlayedRowTenMinutesInVsRendering(benchmark::State &state) {
    const int rate = 44100;
    FILE *file = fopen(ENGINE_SOURCE_DIR "/res/kevo.mod", "rb");
    std::vector<uint8_t> bytes(1 << 20);
    bytes.resize(file ? fread(bytes.data(), 1, bytes.size(), file) : 0);
    if (file) fclose(file);
    ModPlayer *seeking = mod_player_create(rate, bytes.data(), static_cast<long>(bytes.size()));
    ModPlayer *playing = mod_player_create(rate, bytes.data(), static_cast<long>(bytes.size()));
    if (!seeking || !playing) {
        state.SkipWithError("res/kevo.mod does not play");
        return;
    }
    mod_player_set_loop(seeking, 1);
    mod_player_set_loop(playing, 1);
    ModRowClock *clock = mod_row_clock_create(seeking);
    const int64_t played_row = static_cast<int64_t>(mod_row_clock_row(clock, 600LL * rate));
    mod_row_clock_destroy(clock);
    int64_t at = 0;
    const int after = 5 * rate;
    std::vector<int16_t> sought(2 * after), played(2 * after), scratch(2 * 4096);
    bench_side_by_side(
        state, 1, [&] { at = mod_player_seek_played_row(seeking, played_row); },
        [&] {
            mod_player_destroy(playing);
            playing = mod_player_create(rate, bytes.data(), static_cast<long>(bytes.size()));
            mod_player_set_loop(playing, 1);
            for (int64_t left = at; left > 0;) {
                const int n = static_cast<int>(std::min<int64_t>(left, 4096));
                mod_player_render_s16(playing, scratch.data(), n);
                left -= n;
            }
        });
    mod_player_render_s16(seeking, sought.data(), after);
    mod_player_render_s16(playing, played.data(), after);
    state.counters["equal"] = sought == played ? 1 : 0;
    state.counters["played_row"] = static_cast<double>(played_row);
    state.counters["seconds_in"] = static_cast<double>(at) / rate;
    mod_player_destroy(seeking);
    mod_player_destroy(playing);
}
BENCHMARK(BM_SeekToPlayedRowTenMinutesInVsRendering)->Unit(benchmark::kMillisecond)->Iterations(2);
