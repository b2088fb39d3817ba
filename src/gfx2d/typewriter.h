// The typewriter effect: reveals a source string into a text object one
// character at a time, no faster than one per interval of the caller's
// clock, and draws what has been revealed so far.
#ifndef GFX2D_TYPEWRITER_H
#define GFX2D_TYPEWRITER_H

#include <cstdint>

#include "gfx2d/text_object.h"

// Finished when position >= length; a typewriter with no text yet has
// length 0 and so is finished.
struct Typewriter {
    TextObject *target;  // receives the revealed characters and is drawn; not owned
    const char *source;  // text to reveal; not owned, not copied; null until set
    int32_t position;    // index in source of the next character to reveal
    int32_t interval;    // least clock difference between reveals, caller's unit
    int32_t last_time;   // clock value of the last reveal; -1 at creation
    uint64_t length;     // strlen(source), taken when the text is set
};

// A new typewriter with no text, drawing into `target`, or null when it
// cannot be allocated.
Typewriter *typewriter_new(TextObject *target, int32_t interval);

// Frees the record only, never the target or the source. Null does nothing.
void typewriter_free(Typewriter *typewriter);

// Starts revealing `source` (null is taken as the empty text): position 0,
// length = strlen(source), the target emptied. The timing carries on from
// the last reveal. The target's capacity should hold the whole source;
// characters beyond it are counted as revealed but not kept. Null
// typewriter does nothing.
void typewriter_set_text(Typewriter *typewriter, const char *source);

// Sets the least time between reveals. Null does nothing.
void typewriter_set_interval(Typewriter *typewriter, int32_t interval);

// One frame: returns true at once, drawing nothing, when the whole source
// has been revealed (or there is none, or the typewriter is null).
// Otherwise reveals the next character when now > last_time + interval
// (exact, without 32-bit overflow), at most one per call, draws the target
// in draw_color and returns whether the source is now wholly revealed.
bool typewriter_update(Typewriter *typewriter, int32_t now);

#endif
