// Module player creation (the module check, the format's reader, then the
// record around the song: its mixing layout, output gain and voice pool),
// destruction and the memory count.
#include <cstring>

#include "music/player_state_internal.h"
#include "music/module_check.h"
#include "music/sequencer_internal.h"
#include "music/stereo_halves_internal.h"
#include "music/voice_pool_internal.h"
#include "util/alloc.h"

// Planes to 16-bit output: 65536 is 1. Four channels (two voices a side)
// halve their sum, which never clips.
constexpr int32_t OUTPUT_GAIN_FOUR_CHANNELS = 32768;
constexpr int OUTPUT_GAIN_CHANNELS = 4;
constexpr int SQRT_FIXED_BITS = 10;         // isqrt(n << 20) = sqrt(n) x 1024
constexpr int64_t OUTPUT_GAIN_NUMERATOR = 65536LL << SQRT_FIXED_BITS;

static uint32_t isqrt(uint32_t n) {
    uint32_t root = 0;
    for (uint32_t bit = 1u << 30; bit != 0; bit >>= 2) {
        if (n >= root + bit) {
            n -= root + bit;
            root = (root >> 1) + bit;
        } else {
            root >>= 1;
        }
    }
    return root;
}

// The output gain for `channels` channels: 32768 (half) up to four, then
// 65536 / sqrt(channels), so that the loudness of many independent voices
// stays near that of four; louder peaks saturate.
static int32_t output_gain_for(int channels) {
    if (channels <= OUTPUT_GAIN_CHANNELS) return OUTPUT_GAIN_FOUR_CHANNELS;
    return static_cast<int32_t>(OUTPUT_GAIN_NUMERATOR / isqrt(static_cast<uint32_t>(channels) << (2 * SQRT_FIXED_BITS)));
}

// Which voices the render loop mixes to which side: with hard panning each
// voice goes to the side its channel's panning leans to; otherwise every
// voice is mixed to both sides at its gains.
static void plan_layout(ModPlayer *player) {
    ModPlayerLayout *layout = &player->layout;
    memset(layout, 0, sizeof *layout);
    const Song *song = player->song;
    for (int ch = 0; ch < player->channel_count; ch++) {
        const uint8_t voice = static_cast<uint8_t>(ch);
        if (!(song->quirks & SONG_QUIRK_HARD_PANNING)) layout->panned[layout->panned_count++] = voice;
        else if (song->channel_panning[ch] < SONG_PANNING_CENTER) layout->left[layout->left_count++] = voice;
        else layout->right[layout->right_count++] = voice;
    }
}

// The fixed part of the memory bound (mod_player.h): the player's record,
// the song's and the most instrument records a song can have.
static_assert(sizeof(ModPlayer) + sizeof(Song) + SONG_MAX_INSTRUMENTS * sizeof(SongInstrument) <=
                  static_cast<size_t>(MOD_PLAYER_FIXED_BYTES),
              "the fixed records within their stated bound");

static_assert((SONG_MAX_CHANNELS + MOD_POOL_VOICES) * sizeof(StereoHalf) <= static_cast<size_t>(MOD_PLAYER_STEREO_BYTES),
              "the stereo halves within their stated bound");

// The player around `song` (owned from here on, released on failure).
static ModPlayer *player_for(int output_rate_hz, Song *song, const uint8_t *module) {
    ModPlayer *player = static_cast<ModPlayer *>(engine_calloc(1, sizeof(ModPlayer)));
    if (!player) {
        song_destroy(song);
        return nullptr;
    }
    player->song = song;
    player->title = song->title;
    player->module = module;
    player->song_length = song->order_count;
    player->channel_count = song->channel_count;
    player->output_rate = static_cast<uint16_t>(output_rate_hz);
    player->output_gain = output_gain_for(song->channel_count);
    if (song->quirks & SONG_QUIRK_VOLUME_RAMPING) {
        const int frames = output_rate_hz * MOD_RAMP_MILLISECONDS / 1000 / MOD_RAMP_STEPS * MOD_RAMP_STEPS;
        player->ramp_frames = static_cast<uint16_t>(frames > 0 ? frames : MOD_RAMP_STEPS);
    }
    if (pool_needed(song)) {
        player->pool = static_cast<PoolVoice *>(engine_calloc(MOD_POOL_VOICES, sizeof(PoolVoice)));
        if (!player->pool) {
            mod_player_destroy(player);
            return nullptr;
        }
        player->pool_size = MOD_POOL_VOICES;
    }
    if (stereo_needed(song)) {
        player->half_count = static_cast<uint16_t>(player->channel_count + player->pool_size);
        player->halves = static_cast<StereoHalf *>(engine_calloc(player->half_count, sizeof(StereoHalf)));
        if (!player->halves) {
            mod_player_destroy(player);
            return nullptr;
        }
    }
    plan_layout(player);
    mod_player_reset(player);
    return player;
}

ModPlayer *mod_player_create(int output_rate_hz, const uint8_t *module, long size_bytes) {
    return mod_player_create_checked(output_rate_hz, module, size_bytes, nullptr);
}

ModPlayer *mod_player_create_checked(int output_rate_hz, const uint8_t *module, long size_bytes,
                                     ModuleCheck *check) {
    // The one decision on the module: the player refuses exactly what the
    // check refuses, and its format's reader builds on the layout it
    // found. The player prints nothing; callers facing a person put the
    // result into words.
    ModuleCheck local;
    if (!check) check = &local;
    Song *song = nullptr;
    if (module_check_song(module, size_bytes, check, &song) != MODULE_ACCEPTED) return nullptr;
    if (output_rate_hz < MOD_MIN_OUTPUT_RATE_HZ || output_rate_hz > MOD_MAX_OUTPUT_RATE_HZ) {
        song_destroy(song);
        check->refusal = MODULE_OUTPUT_RATE;
        check->output_rate_hz = output_rate_hz;
        return nullptr;
    }
    ModPlayer *player = player_for(output_rate_hz, song, module);
    if (!player) check->refusal = MODULE_NO_MEMORY;
    return player;
}

ModPlayer *mod_player_create_song(int output_rate_hz, Song *song) {
    if (!song) return nullptr;
    if (output_rate_hz < MOD_MIN_OUTPUT_RATE_HZ || output_rate_hz > MOD_MAX_OUTPUT_RATE_HZ ||
        !song_valid(song)) {
        song_destroy(song);
        return nullptr;
    }
    return player_for(output_rate_hz, song, nullptr);
}

void mod_player_destroy(ModPlayer *player) {
    if (!player) return;
    engine_free(player->pool);
    engine_free(player->halves);
    song_destroy(player->song);
    engine_free(player);
}

long mod_player_memory_bytes(const ModPlayer *player) {
    if (!player) return 0;
    const Song *song = player->song;
    long bytes = static_cast<long>(sizeof(ModPlayer)) + static_cast<long>(sizeof(Song));
    bytes += static_cast<long>(sizeof(PoolVoice)) * player->pool_size;
    bytes += static_cast<long>(sizeof(StereoHalf)) * player->half_count;
    bytes += static_cast<long>(sizeof(uint32_t)) * (static_cast<long>(song->total_rows) + 1);
    bytes += static_cast<long>(song->cell_capacity > 0 ? song->cell_capacity : 1);
    bytes += static_cast<long>(sizeof(SongInstrument)) * song->instrument_count;
    bytes += static_cast<long>(sizeof(SongSample)) * song->sample_count;
    if (song->sample_data) bytes += static_cast<long>(song->sample_data_bytes > 0 ? song->sample_data_bytes : 1);
    bytes += static_cast<long>(song->message_bytes);
    return bytes;
}
