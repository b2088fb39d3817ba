// The editor's project file (.rocket), read through expat:
//   <sync rows="N"><tracks><track name="NAME"><key row="R" value="V" interpolation="I"/>...</track>...</tracks></sync>
// Elements and attributes it does not name are passed over. A track's keys
// are taken as its file's are (sync.h): up to the first that is not a
// plain row above the one before, a finite value and an interpolation 0 ..
// 3, with one line.
#include <expat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "sync/sync_internal.h"
#include "util/file_open.h"

constexpr int ROCKET_CHUNK_BYTES = 16384;

struct RocketReader {
    XML_Parser parser;
    const char *path;
    Vector *tracks;
    SyncTrack *track;   // the <track> being read, or null
    bool track_faulty;  // its keys stopped at a fault
    bool saw_sync;      // the root is <sync>
    bool failed;        // out of memory or a bad track name: stop
};

static const char *attribute(const char **attributes, const char *name) {
    for (int i = 0; attributes[i]; i += 2)
        if (strcmp(attributes[i], name) == 0) return attributes[i + 1];
    return nullptr;
}

// A whole decimal number 0 .. highest, or -1.
static long long whole_number(const char *text, long long highest) {
    if (!text || *text < '0' || *text > '9') return -1;
    errno = 0;
    char *end = nullptr;
    const long long value = strtoll(text, &end, 10);
    return errno == 0 && *end == '\0' && value <= highest ? value : -1;
}

static void stop(RocketReader *reader) {
    reader->failed = true;
    XML_StopParser(reader->parser, XML_FALSE);
}

static void key_fault(RocketReader *reader, const char *what) {
    reader->track_faulty = true;
    fprintf(stderr, "SYNC: '%s' line %lu: track '%s' has %s; kept the %u keys before it\n", reader->path,
            static_cast<unsigned long>(XML_GetCurrentLineNumber(reader->parser)), reader->track->name, what,
            reader->track->count);
}

static void read_key(RocketReader *reader, const char **attributes) {
    const long long row = whole_number(attribute(attributes, "row"), UINT32_MAX);
    const long long interpolation = whole_number(attribute(attributes, "interpolation"), SYNC_RAMP);
    const char *value_text = attribute(attributes, "value");
    char *end = nullptr;
    const double value = value_text ? strtod(value_text, &end) : NAN;
    SyncTrack *track = reader->track;
    if (row < 0) return key_fault(reader, "a key without a whole row 0 .. 4294967295");
    if (track->count > 0 && row <= track->keys[track->count - 1].row)
        return key_fault(reader, "a row not above the one before");
    if (interpolation < 0) return key_fault(reader, "an interpolation that is not 0 .. 3");
    if (!value_text || *end != '\0' || !std::isfinite(static_cast<float>(value)))
        return key_fault(reader, "a value that is not a finite number");
    const SyncKey key = {static_cast<uint32_t>(row), static_cast<float>(value), static_cast<uint8_t>(interpolation)};
    if (sync_track_set(track, &key) != 0) {
        fprintf(stderr, "SYNC: '%s': track '%s' cannot hold more keys\n", reader->path, track->name);
        stop(reader);
    }
}

static void XMLCALL element_start(void *user, const char *element, const char **attributes) {
    RocketReader *reader = static_cast<RocketReader *>(user);
    if (reader->failed) return;
    if (!reader->saw_sync) {
        if (strcmp(element, "sync") != 0) {
            fprintf(stderr, "SYNC: '%s' is not a sync project: its root is <%s>, not <sync>\n", reader->path,
                    element);
            return stop(reader);
        }
        reader->saw_sync = true;
    } else if (strcmp(element, "track") == 0 && !reader->track) {
        const char *name = attribute(attributes, "name");
        const size_t length = name ? strlen(name) : 0;
        if (length == 0 || length > static_cast<size_t>(SYNC_MAX_NAME_BYTES)) {
            fprintf(stderr, "SYNC: '%s' line %lu: a track needs a name of 1 to %d bytes\n", reader->path,
                    static_cast<unsigned long>(XML_GetCurrentLineNumber(reader->parser)), SYNC_MAX_NAME_BYTES);
            return stop(reader);
        }
        reader->track = sync_track_new(name);
        reader->track_faulty = false;
        if (!reader->track || vector_append(reader->tracks, reader->track) != 0) {
            sync_track_free(reader->track);
            reader->track = nullptr;
            fprintf(stderr, "SYNC: '%s': out of memory\n", reader->path);
            return stop(reader);
        }
    } else if (strcmp(element, "key") == 0 && reader->track && !reader->track_faulty) {
        read_key(reader, attributes);
    }
}

static void XMLCALL element_end(void *user, const char *element) {
    RocketReader *reader = static_cast<RocketReader *>(user);
    if (strcmp(element, "track") == 0) reader->track = nullptr;
}

int sync_rocket_read(const char *path, Vector *tracks) {
    const char *why = nullptr;
    const int fd = open_regular_file(path, &why);
    if (fd < 0) {
        fprintf(stderr, "SYNC: cannot read '%s': %s\n", path, why);
        return -1;
    }
    RocketReader reader = {XML_ParserCreate(nullptr), path, tracks, nullptr, false, false, false};
    if (!reader.parser) {
        close(fd);
        fprintf(stderr, "SYNC: cannot read '%s': out of memory\n", path);
        return -1;
    }
    XML_SetUserData(reader.parser, &reader);
    XML_SetElementHandler(reader.parser, element_start, element_end);
    bool ok = true;
    for (;;) {
        void *buffer = XML_GetBuffer(reader.parser, ROCKET_CHUNK_BYTES);
        const ssize_t got = buffer ? read(fd, buffer, ROCKET_CHUNK_BYTES) : -1;
        if (got < 0) {
            fprintf(stderr, "SYNC: cannot read '%s': %s\n", path, buffer ? strerror(errno) : "out of memory");
            ok = false;
            break;
        }
        if (XML_ParseBuffer(reader.parser, static_cast<int>(got), got == 0) != XML_STATUS_OK) {
            // A stop of our own has said why already.
            if (!reader.failed)
                fprintf(stderr, "SYNC: '%s' is not well-formed XML: %s at line %lu\n", path,
                        XML_ErrorString(XML_GetErrorCode(reader.parser)),
                        static_cast<unsigned long>(XML_GetCurrentLineNumber(reader.parser)));
            ok = false;
            break;
        }
        if (got == 0) break;
    }
    close(fd);
    XML_ParserFree(reader.parser);
    if (ok && !reader.saw_sync) {
        fprintf(stderr, "SYNC: '%s' is not a sync project: it has no <sync> element\n", path);
        ok = false;
    }
    return ok ? 0 : -1;
}
