// Module player creation (checking the module against its size and
// repairing what real files get wrong), destruction and the setters.
#include <cstring>

#include "music/mod_player.h"
#include "music/module_format.h"
#include "music/sample_stream.h"
#include "music/sequencer.h"
#include "util/alloc.h"

constexpr uint8_t DEFAULT_TEMPO = 125;
constexpr uint8_t DEFAULT_SPEED = 6;

// Releases `player` and answers the refusal. The player prints nothing:
// the start-up and the tools, which face a person, put the reason into
// words themselves.
static ModPlayer *reject(ModPlayer *player) {
    engine_free(player);
    return nullptr;
}

ModPlayer *mod_player_create(int output_rate_hz, const uint8_t *module, long size_bytes) {
    if (output_rate_hz < MOD_MIN_OUTPUT_RATE_HZ || output_rate_hz > MOD_MAX_OUTPUT_RATE_HZ) return nullptr;
    if (!module || size_bytes < static_cast<long>(MOD_PATTERNS_OFFSET)) return nullptr;
    const size_t size = static_cast<size_t>(size_bytes);

    ModPlayer *player = static_cast<ModPlayer *>(engine_calloc(1, sizeof(ModPlayer)));
    if (!player) return nullptr;
    player->module = module;
    player->output_rate = static_cast<uint16_t>(output_rate_hz);
    player->finished = 0;
    player->loop = 0;
    player->row_callback = nullptr;
    player->tick_callback = nullptr;

    int limit = mod_check_signature(module);
    if (limit == 0) return reject(player);

    uint8_t song_length = module[MOD_SONG_LENGTH_OFFSET];
    if (song_length == 0) song_length = 1;
    if (song_length > MOD_ORDER_ENTRIES) song_length = MOD_ORDER_ENTRIES;
    player->song_length = song_length;
    player->order_table = module + MOD_ORDER_TABLE_OFFSET;
    mod_count_patterns(player, limit);

    const size_t data_offset = MOD_PATTERNS_OFFSET + MOD_PATTERN_BYTES * player->pattern_count;
    if (size < data_offset) return reject(player);
    mod_decode_samples(player, module, size, data_offset);
    player->sample_count = MOD_SAMPLES;
    mod_unpack_patterns(player, module);

    mod_player_reset(player);

    memcpy(player->title, module + MOD_TITLE_OFFSET, MOD_TITLE_BYTES);
    player->title[MOD_TITLE_BYTES] = '\0';
    return player;
}

void mod_player_reset(ModPlayer *player) {
    if (!player) return;
    player->finished = 0;
    player->tempo = DEFAULT_TEMPO;
    player->speed = DEFAULT_SPEED;
    player->tick_sample = 0;
    player->tick = 0;
    player->row_delay = 0;
    player->next_row = 0;
    player->next_order = 0;
    player->next_is_jump = 0;
    player->order = 0;
    player->row = 0;
    update_tick_length(player);

    for (int i = 0; i < MOD_CHANNELS; i++) {
        Channel *c = &player->channels[i];
        memset(c, 0, sizeof *c);
        c->samples = player->samples;
        Voice *voice = &player->voices[i];
        voice_init(voice, player->output_rate);
        voice_set_source(voice, stream_sample, c);
        voice_set_volume(voice, 0);
        voice_set_frequency(voice, 0);
        // Only copies the cell: the first row starts afresh at the first
        // row boundary.
        load_row(player, i);
    }
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
