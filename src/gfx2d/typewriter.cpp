// The typewriter effect's record and its per-frame update.
#include "gfx2d/typewriter.h"

#include <cstring>

#include "util/alloc.h"

Typewriter *typewriter_new(TextObject *target, int32_t interval) {
    Typewriter *typewriter = static_cast<Typewriter *>(engine_calloc(1, sizeof(Typewriter)));
    if (!typewriter) return nullptr;
    typewriter->target = target;
    typewriter->interval = interval;
    typewriter->last_time = -1;
    return typewriter;
}

void typewriter_free(Typewriter *typewriter) { engine_free(typewriter); }

void typewriter_set_text(Typewriter *typewriter, const char *source) {
    if (!typewriter) return;
    typewriter->position = 0;
    typewriter->source = source;
    // position is 32-bit, so no more than INT32_MAX characters can be
    // revealed; a longer source ends there.
    const size_t length = source ? strlen(source) : 0;
    typewriter->length = length > static_cast<size_t>(INT32_MAX) ? INT32_MAX : length;
    text_clear(typewriter->target);
}

void typewriter_set_interval(Typewriter *typewriter, int32_t interval) {
    if (typewriter) typewriter->interval = interval;
}

bool typewriter_update(Typewriter *typewriter, int32_t now) {
    if (!typewriter) return true;
    if (typewriter->position < 0 || static_cast<uint64_t>(typewriter->position) >= typewriter->length)
        return true;
    // Formed in 64 bits: a last reveal near INT32_MAX plus the interval
    // must not wrap into the past.
    if (static_cast<int64_t>(now) > static_cast<int64_t>(typewriter->last_time) + typewriter->interval) {
        const char one[2] = {typewriter->source[typewriter->position], '\0'};
        text_append(typewriter->target, one);
        typewriter->position++;
        typewriter->last_time = now;
    }
    text_draw(typewriter->target);
    return static_cast<uint64_t>(typewriter->position) >= typewriter->length;
}
