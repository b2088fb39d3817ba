// Installing a player's note-start callback.
#include "music/mod_player.h"

void mod_player_set_note_callback(ModPlayer *player, ModNoteCallback fn, void *user) {
    if (!player) return;
    player->note_callback = fn;
    player->note_user = user;
}
