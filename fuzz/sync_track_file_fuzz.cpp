// Fuzzes the track-file reader on arbitrary bytes: whatever it keeps keeps
// the track's invariant (rows strictly rising, interpolations 0 .. 3,
// finite values), and every lookup of the kept keys, forward and jumping,
// gives a finite value within the keys' range.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "sync/sync_internal.h"

static void check(bool ok, const char *what) {
    if (!ok) {
        fprintf(stderr, "FUZZ: sync track invariant broken: %s\n", what);
        abort();
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    SyncTrack *track = sync_track_new("fuzz");
    if (!track) return 0;
    char fault[160];
    const int result = sync_file_parse(track, data, size, fault, sizeof fault);
    check(result == 0 || fault[0] != '\0', "a refusal says why");
    check(track->count <= size / 9, "no more keys than the bytes hold");
    double low = 0.0, high = 0.0;
    for (uint32_t i = 0; i < track->count; i++) {
        const SyncKey &k = track->keys[i];
        check(sync_key_valid(&k), "every key kept is valid");
        check(i == 0 || k.row > track->keys[i - 1].row, "rows rise strictly");
        if (i == 0 || k.value < low) low = k.value;
        if (i == 0 || k.value > high) high = k.value;
    }
    // Smooth and linear stay within their two keys; ramp too (t^2 <= 1).
    const double span = track->count ? track->keys[track->count - 1].row + 2.0 : 4.0;
    for (double row = -1.0; row < span && row < 4096.0; row += 0.75) {
        const double v = sync_value(track, row);
        check(std::isfinite(v) && v >= low - 1e-6 * (1 + std::fabs(low)) && v <= high + 1e-6 * (1 + std::fabs(high)),
              "values stay within the keys' values");
    }
    for (size_t i = 0; i + 4 <= size && i < 256; i += 4) {
        const double row = static_cast<double>(data[i] | data[i + 1] << 8 | data[i + 2] << 16) / 3.0;
        check(std::isfinite(sync_value(track, row)), "a jump gives a finite value");
    }
    sync_track_free(track);
    return 0;
}
