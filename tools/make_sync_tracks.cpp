// make_sync_tracks: writes the sync_tracks example's tracks from the keys
// below, as the sync editor would save and export them:
//   sync_tracks.rocket        the editor's project (open it in the editor)
//   sync_tracks_NAME.track    each track exported, as the example plays it
// Usage: make_sync_tracks [output directory, default "res"]. The rows are
// res/kevo.mod's played rows (8.3 a second, 725 in the song).
#include <cstdio>
#include <string>
#include <vector>
#include <unistd.h>

#include "platform/program_args.h"
#include "sync/sync.h"
#include "util/std_fds.h"

static const char USAGE[] =
    "usage: make_sync_tracks [output directory, default res]\n"
    "Writes the sync_tracks example's editor project and exported track files.\n";

// The song's rows come in patterns of 64; the scenes change every two.
constexpr uint32_t PATTERN_ROWS = 64;
constexpr uint32_t SONG_ROWS = 704;
constexpr uint32_t BEAT_ROWS = 16;   // the kick drum's rows
constexpr uint32_t FLASH_ROWS = 4;   // a flash fades over a beat's first quarter

struct TrackKeys {
    const char *name;
    std::vector<SyncKey> keys;
};

static std::vector<TrackKeys> example_tracks(void) {
    std::vector<TrackKeys> tracks = {
        // 0 the crate, 1 the torus, 2 the rings: two patterns each.
        {"scene", {}},
        // The camera's turn about the model and its tilt, in degrees, and its
        // distance in model units: a linear turn, a smooth swing, a ramp in.
        {"cam:yaw", {{0, 0.0f, SYNC_LINEAR}, {128, 360.0f, SYNC_SMOOTH}, {256, 720.0f, SYNC_RAMP},
                     {384, 1080.0f, SYNC_LINEAR}, {SONG_ROWS, 1800.0f, SYNC_STEP}}},
        {"cam:pitch", {}},
        {"cam:dist", {}},
        // The hue of the rings and the frame (0 .. 23 round the palette's
        // ring), and the background's flash on each kick (a grey level).
        {"colour:hue", {{0, 0.0f, SYNC_LINEAR}, {SONG_ROWS, 48.0f, SYNC_STEP}}},
        {"colour:flash", {}},
    };
    for (uint32_t row = 0; row < SONG_ROWS; row += 2 * PATTERN_ROWS)
        tracks[0].keys.push_back({row, static_cast<float>(row / (2 * PATTERN_ROWS) % 3), SYNC_STEP});
    for (uint32_t row = 0; row <= SONG_ROWS; row += PATTERN_ROWS / 2)
        tracks[2].keys.push_back({row, row / (PATTERN_ROWS / 2) % 2 ? 25.0f : -15.0f, SYNC_SMOOTH});
    for (uint32_t row = 0; row <= SONG_ROWS; row += PATTERN_ROWS)
        tracks[3].keys.push_back({row, row / PATTERN_ROWS % 2 ? 420.0f : 280.0f, SYNC_SMOOTH});
    for (uint32_t row = 0; row < SONG_ROWS; row += BEAT_ROWS) {
        tracks[5].keys.push_back({row, 6.0f, SYNC_LINEAR});
        tracks[5].keys.push_back({row + FLASH_ROWS, 0.0f, SYNC_STEP});
    }
    return tracks;
}

// The project as the editor saves it, written whole and renamed into place.
static bool write_rocket(const std::string &path, const std::vector<TrackKeys> &tracks) {
    const std::string part = path + ".part";
    FILE *out = fopen(part.c_str(), "w");
    if (!out) return false;
    fprintf(out, "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<sync rows=\"%u\">\n<tracks>\n", SONG_ROWS + 64);
    for (const TrackKeys &track : tracks) {
        fprintf(out, "<track name=\"%s\" folded=\"0\" muted=\"0\" color=\"ff808080\">\n", track.name);
        for (const SyncKey &k : track.keys)
            fprintf(out, "<key row=\"%u\" value=\"%.9g\" interpolation=\"%u\"/>\n", k.row, static_cast<double>(k.value),
                    k.interpolation);
        fprintf(out, "</track>\n");
    }
    fprintf(out, "</tracks>\n</sync>\n");
    const bool ok = fclose(out) == 0 && rename(part.c_str(), path.c_str()) == 0;
    if (!ok) unlink(part.c_str());
    return ok;
}

int main(int argc, char **argv) {
    if (keep_standard_fds_open() != 0) return 1;
    if (args_answer_help(argc, argv, USAGE)) return 0;
    if (!args_expect_plain(argc, argv, 0, 1, USAGE)) return USAGE_ERROR_STATUS;
    const std::string dir = argc == 2 ? argv[1] : "res";
    const std::vector<TrackKeys> tracks = example_tracks();
    SyncDevice *device = sync_open((dir + "/sync_tracks").c_str());
    bool ok = device != nullptr;
    for (const TrackKeys &track : tracks) {
        const SyncTrack *t = ok ? sync_track(device, track.name) : nullptr;
        for (const SyncKey &key : track.keys) ok = ok && sync_set_key(device, t, &key) == 0;
    }
    ok = ok && sync_save(device) == 0;
    sync_close(device);
    if (ok && !write_rocket(dir + "/sync_tracks.rocket", tracks)) {
        fprintf(stderr, "make_sync_tracks: cannot write '%s/sync_tracks.rocket'\n", dir.c_str());
        ok = false;
    }
    return ok ? 0 : 1;
}
