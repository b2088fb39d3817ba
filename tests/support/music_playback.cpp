// Tick-exact driving of a module player and exactly sized module copies.
#include "support/music_playback.h"

#include <cstdlib>
#include <cstring>

void music_run_ticks(ModPlayer *player, int ticks) {
    std::vector<int32_t> accum;
    ModPlayerPosition at;
    for (int i = 0; i < ticks && mod_player_position(player, &at) == 0 && !at.finished; i++) {
        const int frames = static_cast<int>(at.tick_frames - at.tick_frame);
        accum.resize(2 * static_cast<size_t>(frames));
        mod_player_render(player, accum.data(), frames);
    }
}

ModPlayerPosition music_position(const ModPlayer *player) {
    ModPlayerPosition at = {};
    mod_player_position(player, &at);
    return at;
}

ModChannelState music_channel(const ModPlayer *player, int channel) {
    ModChannelState state = {};
    mod_player_channel(player, channel, &state);
    return state;
}

std::vector<int16_t> music_render_s16(ModPlayer *player, int frames) {
    std::vector<int16_t> out(2 * static_cast<size_t>(frames));
    mod_player_render_s16(player, out.data(), frames);
    return out;
}

uint8_t *music_copy_module(const std::vector<uint8_t> &bytes) {
    uint8_t *block = static_cast<uint8_t *>(malloc(bytes.empty() ? 1 : bytes.size()));
    if (block && !bytes.empty()) memcpy(block, bytes.data(), bytes.size());
    return block;
}

void music_free_module(uint8_t *module) {
    free(module);
}

uint32_t music_expected_step(int period, int rate_hz) {
    uint64_t hz = 3546895u / static_cast<uint32_t>(period);
    return static_cast<uint32_t>(hz * 65536u / static_cast<uint32_t>(rate_hz));
}
