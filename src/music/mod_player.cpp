// Module player creation (the module check, then filling the record and
// repairing what real files get wrong), destruction and the setters.
#include <cstring>

#include "music/mod_player.h"
#include "music/module_check.h"
#include "music/module_format.h"
#include "music/sequencer.h"
#include "util/alloc.h"

ModPlayer *mod_player_create(int output_rate_hz, const uint8_t *module, long size_bytes) {
    return mod_player_create_checked(output_rate_hz, module, size_bytes, nullptr);
}

ModPlayer *mod_player_create_checked(int output_rate_hz, const uint8_t *module, long size_bytes,
                                     ModuleCheck *check) {
    // The one decision on the module: the player refuses exactly what the
    // check refuses, and builds on the layout it found. The player prints
    // nothing; callers facing a person put the result into words.
    ModuleCheck local;
    if (!check) check = &local;
    if (module_check(module, size_bytes, check) != MODULE_ACCEPTED) return nullptr;
    if (output_rate_hz < MOD_MIN_OUTPUT_RATE_HZ || output_rate_hz > MOD_MAX_OUTPUT_RATE_HZ) {
        check->refusal = MODULE_OUTPUT_RATE;
        check->output_rate_hz = output_rate_hz;
        return nullptr;
    }
    ModPlayer *player = static_cast<ModPlayer *>(engine_calloc(1, sizeof(ModPlayer)));
    if (!player) {
        check->refusal = MODULE_NO_MEMORY;
        return nullptr;
    }
    player->module = module;
    player->output_rate = static_cast<uint16_t>(output_rate_hz);

    uint8_t song_length = module[MOD_SONG_LENGTH_OFFSET];
    if (song_length == 0) song_length = 1;
    if (song_length > MOD_ORDER_ENTRIES) song_length = MOD_ORDER_ENTRIES;
    player->song_length = song_length;
    player->order_table = module + MOD_ORDER_TABLE_OFFSET;
    player->pattern_count = static_cast<uint8_t>(check->pattern_count);
    player->pattern_mask = check->pattern_mask;

    mod_decode_samples(player, module, static_cast<size_t>(size_bytes), check->sample_data_offset);
    player->sample_count = MOD_SAMPLES;
    mod_unpack_patterns(player, module);

    mod_player_reset(player);

    memcpy(player->title, module + MOD_TITLE_OFFSET, MOD_TITLE_BYTES);
    player->title[MOD_TITLE_BYTES] = '\0';
    return player;
}

void mod_player_destroy(ModPlayer *player) {
    engine_free(player);
}

void mod_player_set_loop(ModPlayer *player, uint8_t flag) {
    if (!player) return;
    player->loop = flag;
}

int mod_player_is_finished(const ModPlayer *player) {
    if (!player) return 1;
    return player->finished;
}

void mod_player_set_row_callback(ModPlayer *player, ModPlayerCallback fn, void *user) {
    if (!player) return;
    player->row_callback = fn;
    player->row_user = user;
}

void mod_player_set_tick_callback(ModPlayer *player, ModPlayerCallback fn, void *user) {
    if (!player) return;
    player->tick_callback = fn;
    player->tick_user = user;
}

void mod_player_set_note_callback(ModPlayer *player, ModNoteCallback fn, void *user) {
    if (!player) return;
    player->note_callback = fn;
    player->note_user = user;
}
