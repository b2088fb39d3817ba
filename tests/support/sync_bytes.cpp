// Builds the sync editor's commands and track files byte by byte, as the
// protocol and the file layout lay them out (sync/sync.h).
#include "support/sync_bytes.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

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

SyncEditorEnd::SyncEditorEnd() {
    listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr *>(&address), size) != 0 || listen(listener, 4) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr *>(&address), &size) != 0)
        return;
    port = ntohs(address.sin_port);
}

SyncEditorEnd::~SyncEditorEnd() {
    drop();
    if (listener >= 0) close(listener);
}

void SyncEditorEnd::drop() {
    if (fd >= 0) close(fd);
    fd = -1;
}

SyncBytes SyncEditorEnd::read(size_t want, int ms) {
    SyncBytes got;
    uint8_t chunk[4096];
    pollfd p = {fd, POLLIN, 0};
    while (got.size() < want && poll(&p, 1, ms) == 1) {
        const ssize_t n = recv(fd, chunk, std::min(sizeof chunk, want - got.size()), 0);
        if (n <= 0) break;
        got.insert(got.end(), chunk, chunk + n);
    }
    return got;
}

bool SyncEditorEnd::accept_and_answer(int ms) {
    pollfd p = {listener, POLLIN, 0};
    if (poll(&p, 1, ms) != 1) return false;
    fd = accept(listener, nullptr, nullptr);
    const SyncBytes hello = read(19);
    const std::string answer = "hello, demo!";
    return std::string(hello.begin(), hello.end()) == "hello, synctracker!" &&
           send(SyncBytes(answer.begin(), answer.end()));
}

bool SyncEditorEnd::send(const SyncBytes &bytes) {
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}
