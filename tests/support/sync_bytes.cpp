// Builds the sync editor's commands and track files byte by byte, as the
// protocol and the file layout lay them out (sync/sync.h).
#include "support/sync_bytes.h"

#include <cmath>
#include <cstring>
#include <limits>

static void put_u32_be(SyncBytes *out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<uint8_t>(v >> shift));
}

static void put_u32_le(SyncBytes *out, uint32_t v) {
    for (int shift = 0; shift <= 24; shift += 8) out->push_back(static_cast<uint8_t>(v >> shift));
}

static uint32_t float_bits(float value) {
    uint32_t bits;
    memcpy(&bits, &value, sizeof bits);
    return bits;
}

SyncBytes sync_set_key_bytes(uint32_t track, uint32_t row, float value, uint8_t interpolation) {
    SyncBytes out = {0};
    put_u32_be(&out, track);
    put_u32_be(&out, row);
    put_u32_be(&out, float_bits(value));
    out.push_back(interpolation);
    return out;
}

SyncBytes sync_delete_key_bytes(uint32_t track, uint32_t row) {
    SyncBytes out = {1};
    put_u32_be(&out, track);
    put_u32_be(&out, row);
    return out;
}

SyncBytes sync_get_track_head(uint32_t name_bytes) {
    SyncBytes out = {2};
    put_u32_be(&out, name_bytes);
    return out;
}

SyncBytes sync_get_track_bytes(const std::string &name) {
    SyncBytes out = sync_get_track_head(static_cast<uint32_t>(name.size()));
    out.insert(out.end(), name.begin(), name.end());
    return out;
}

SyncBytes sync_set_row_bytes(uint32_t row) {
    SyncBytes out = {3};
    put_u32_be(&out, row);
    return out;
}

SyncBytes sync_pause_bytes(uint8_t paused) { return {4, paused}; }

SyncBytes sync_save_bytes(void) { return {5}; }

SyncBytes operator+(SyncBytes a, const SyncBytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

SyncBytes sync_track_file(uint32_t claimed_count, const std::vector<SyncFileKey> &keys) {
    SyncBytes out;
    put_u32_le(&out, claimed_count);
    for (const SyncFileKey &k : keys) {
        put_u32_le(&out, k.row);
        put_u32_le(&out, float_bits(k.value));
        out.push_back(k.interpolation);
    }
    return out;
}

std::vector<SyncSeed> sync_track_file_seeds(void) {
    const std::vector<SyncFileKey> every = {{0, 0.0f, 0}, {4, 1.0f, 1}, {8, -2.5f, 2}, {16, 3.0f, 3}, {17, 0.5f, 0}};
    SyncBytes truncated = sync_track_file(5, every);
    truncated.resize(truncated.size() - 4);
    return {
        {"every_interpolation", sync_track_file(5, every)},
        {"empty", sync_track_file(0, {})},
        {"count_beyond_size", sync_track_file(1000000, every)},
        {"truncated", truncated},
        {"rows_repeated", sync_track_file(3, {{2, 1.0f, 0}, {2, 2.0f, 0}, {3, 0.0f, 0}})},
        {"rows_falling", sync_track_file(2, {{9, 1.0f, 1}, {3, 2.0f, 1}})},
        {"interpolation_4", sync_track_file(2, {{0, 1.0f, 4}, {1, 2.0f, 0}})},
        {"nan_value", sync_track_file(1, {{0, std::numeric_limits<float>::quiet_NaN(), 0}})},
        {"infinite_value", sync_track_file(1, {{0, INFINITY, 1}})},
        {"trailing_bytes", sync_track_file(1, {{0, 1.0f, 0}}) + SyncBytes{1, 2, 3}},
        {"short", {7, 0}},
    };
}

std::vector<SyncSeed> sync_command_seeds(void) {
    SyncBytes split = sync_set_key_bytes(1, 2, 0.25f, 3);
    split.resize(6);
    return {
        {"keys_and_delete", sync_set_key_bytes(0, 4, 1.5f, 1) + sync_set_key_bytes(1, 8, -3.0f, 2) +
                                sync_delete_key_bytes(0, 4) + sync_delete_key_bytes(1, 99)},
        {"rows_pause_save", sync_set_row_bytes(12) + sync_pause_bytes(1) + sync_set_row_bytes(40) +
                                sync_pause_bytes(0) + sync_save_bytes()},
        {"split_set_key", split},
        {"unknown_command", sync_set_row_bytes(1) + SyncBytes{9}},
        {"track_out_of_range", sync_set_key_bytes(7, 0, 1.0f, 0)},
        {"interpolation_4", sync_set_key_bytes(0, 0, 1.0f, 4)},
        {"nan_value", sync_set_key_bytes(0, 0, std::numeric_limits<float>::quiet_NaN(), 0)},
        {"long_name", sync_get_track_head(1u << 30)},
    };
}
