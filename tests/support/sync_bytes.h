// The sync editor's commands and track files as bytes, for the sync tests,
// the seeds of the sync fuzz targets and the benchmark's tracks.
#ifndef SUPPORT_SYNC_BYTES_H
#define SUPPORT_SYNC_BYTES_H

#include <cstdint>
#include <string>
#include <vector>

typedef std::vector<uint8_t> SyncBytes;

// The editor's commands, in network byte order.
SyncBytes sync_set_key_bytes(uint32_t track, uint32_t row, float value, uint8_t interpolation);
SyncBytes sync_delete_key_bytes(uint32_t track, uint32_t row);
SyncBytes sync_get_track_bytes(const std::string &name);
SyncBytes sync_get_track_head(uint32_t name_bytes);  // the command and the length alone
SyncBytes sync_set_row_bytes(uint32_t row);
SyncBytes sync_pause_bytes(uint8_t paused);
SyncBytes sync_save_bytes(void);
SyncBytes operator+(SyncBytes a, const SyncBytes &b);

// A track file: the count it claims, then (row, value bits, interpolation)
// per key, little-endian.
struct SyncFileKey {
    uint32_t row;
    float value;
    uint8_t interpolation;
};
SyncBytes sync_track_file(uint32_t claimed_count, const std::vector<SyncFileKey> &keys);

// The seeds of the fuzz targets: named byte strings.
struct SyncSeed {
    std::string name;
    SyncBytes bytes;
};
std::vector<SyncSeed> sync_track_file_seeds(void);
std::vector<SyncSeed> sync_command_seeds(void);

// The editor's end of a connection on loopback: listens on 127.0.0.1 on a
// port of the system's choosing (port 0 when it could not).
struct SyncEditorEnd {
    int listener = -1, fd = -1, port = 0;
    SyncEditorEnd();
    ~SyncEditorEnd();
    void drop();  // closes the connection
    // The bytes that arrive within `ms` (stopping once `want` have).
    SyncBytes read(size_t want, int ms = 1000);
    // Waits `ms` for a demo, takes its greeting and answers it.
    bool accept_and_answer(int ms);
    bool send(const SyncBytes &bytes);
};

#endif
