// Model checking of Vector, HashMap, List and ByteBuffer against the
// standard library, driven by an operation sequence in a byte string.
#include "support/util_models.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <list>
#include <map>
#include <unordered_map>
#include <vector>

#include "util/alloc.h"
#include "util/bytebuffer.h"
#include "util/hashmap.h"
#include "util/list.h"
#include "util/siphash.h"
#include "util/vector.h"

UtilAllocFailScope::UtilAllocFailScope(long successes) { alloc_fail_after(successes); }
UtilAllocFailScope::~UtilAllocFailScope() { alloc_fail_after(-1); }

namespace {

// Reads the operation sequence; past its end every byte reads as zero.
struct OpReader {
    const uint8_t *data;
    size_t size;
    size_t at;
};

bool reader_more(const OpReader *r) { return r->at < r->size; }

uint8_t reader_byte(OpReader *r) { return r->at < r->size ? r->data[r->at++] : 0; }

// Records the first disagreement, with the step it happened at.
struct Verdict {
    bool ok;
    long step;
    std::string message;
};

void fail(Verdict *v, const char *format, ...) {
    if (!v->ok) return;
    char text[256];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    v->ok = false;
    v->message = "step " + std::to_string(v->step) + ": " + text;
}

// Items are distinct non-null tags, so a wrong slot or a lost item shows.
void *tag(uint64_t n) { return reinterpret_cast<void *>(static_cast<uintptr_t>(n)); }

// ---------------------------------------------------------------- Vector

uint64_t vector_model_grown(uint64_t capacity) { return capacity == 0 ? 1 : capacity * 2; }

void vector_check(const Vector *vector, const std::vector<void *> &model, uint64_t capacity,
                  Verdict *v) {
    if (vector->count != model.size())
        return fail(v, "vector count %llu, model %zu", static_cast<unsigned long long>(vector->count),
                    model.size());
    if (vector->capacity != capacity)
        return fail(v, "vector capacity %llu, expected %llu",
                    static_cast<unsigned long long>(vector->capacity), static_cast<unsigned long long>(capacity));
    for (size_t i = 0; i < model.size(); i++)
        if (vector->items[i] != model[i]) return fail(v, "vector item %zu differs", i);
}

void run_vector(OpReader *r, Verdict *v) {
    uint64_t capacity = reader_byte(r) % 9;
    Vector *vector = vector_create(capacity);
    if (!vector) return fail(v, "vector_create(%llu) failed", static_cast<unsigned long long>(capacity));
    std::vector<void *> model;
    uint64_t next_tag = 1;
    for (; v->ok && reader_more(r); v->step++) {
        uint8_t op = reader_byte(r) % 6;
        uint64_t count = model.size();
        bool full = count == capacity;
        if (op == 0) {  // append
            void *item = tag(next_tag++);
            if (vector_append(vector, item) != 0) fail(v, "append failed");
            if (full) capacity = vector_model_grown(capacity);
            model.push_back(item);
        } else if (op == 1) {  // insert at 0 .. count + 1 (the last one is refused)
            uint64_t index = reader_byte(r) % (count + 2);
            void *item = tag(next_tag++);
            int result = vector_insert_at(vector, item, index);
            if (index > count) {
                if (result != -1) fail(v, "insert at %llu beyond count accepted",
                                       static_cast<unsigned long long>(index));
            } else {
                if (result != 0) fail(v, "insert at %llu failed", static_cast<unsigned long long>(index));
                if (full) capacity = vector_model_grown(capacity);
                model.insert(model.begin() + static_cast<long>(index), item);
            }
        } else if (op == 2 || op == 3) {  // remove at 0 .. count (the last one is refused)
            uint64_t index = reader_byte(r) % (count + 1);
            void *item = vector_remove_at(vector, index);
            if (index >= count) {
                if (item) fail(v, "remove at %llu beyond count gave an item",
                               static_cast<unsigned long long>(index));
            } else {
                if (item != model[index]) fail(v, "remove at %llu gave the wrong item",
                                               static_cast<unsigned long long>(index));
                model.erase(model.begin() + static_cast<long>(index));
            }
        } else {  // append (4) or insert (5) with every allocation failing
            uint64_t index = op == 4 ? count : reader_byte(r) % (count + 1);
            void *item = tag(next_tag++);
            int result;
            {
                UtilAllocFailScope no_memory(0);
                result = op == 4 ? vector_append(vector, item)
                                 : vector_insert_at(vector, item, index);
            }
            if (full) {
                if (result != -1) fail(v, "growth without memory reported success");
            } else {
                if (result != 0) fail(v, "insert with room failed without allocating");
                model.insert(model.begin() + static_cast<long>(index), item);
            }
        }
        if (v->ok) vector_check(vector, model, capacity, v);
    }
    vector_destroy(vector);
}

// ---------------------------------------------------------------- HashMap

// Keys: every string over {a, b} of length 1 to 4, the empty string, and
// three with zero bytes inside. They agree on prefixes and differ in
// length, and each has two copies at different addresses so that equality
// is decided by bytes, never by pointer.
struct KeyPool {
    std::vector<std::string> keys;
    std::vector<std::vector<char>> copies[2];
};

KeyPool make_key_pool(void) {
    KeyPool pool;
    for (int length = 1; length <= 4; length++)
        for (int bits = 0; bits < (1 << length); bits++) {
            std::string key;
            for (int i = 0; i < length; i++) key += (bits >> i) & 1 ? 'b' : 'a';
            pool.keys.push_back(key);
        }
    pool.keys.push_back(std::string());
    pool.keys.push_back(std::string("a\0b", 3));
    pool.keys.push_back(std::string("a\0", 2));
    pool.keys.push_back(std::string("\0", 1));
    for (auto &copy : pool.copies)
        for (const std::string &key : pool.keys) {
            std::vector<char> bytes(key.begin(), key.end());
            bytes.push_back('\0');
            copy.push_back(bytes);
        }
    return pool;
}

int compare_bytes(const void *a, const void *b, uint64_t length_bytes) {
    return memcmp(a, b, static_cast<size_t>(length_bytes));
}

uint64_t largest_power_of_two_upto(uint64_t hint) {
    uint64_t p = 1;
    while (p <= hint / 2) p *= 2;
    return p;
}

// The model: key bytes -> insertion numbers; the map must answer with the
// newest (largest) one.
typedef std::unordered_multimap<std::string, uint64_t> MapModel;

bool model_newest(const MapModel &model, const std::string &key, uint64_t *newest) {
    auto range = model.equal_range(key);
    if (range.first == range.second) return false;
    *newest = 0;
    for (auto it = range.first; it != range.second; ++it) *newest = std::max(*newest, it->second);
    return true;
}

void hashmap_check(const HashMap *map, const MapModel &model, uint64_t bucket_count,
                   const KeyPool &pool, Verdict *v) {
    if (map->count != model.size())
        return fail(v, "map count %llu, model %zu", static_cast<unsigned long long>(map->count), model.size());
    if (map->bucket_count != bucket_count)
        return fail(v, "map has %llu buckets, expected %llu",
                    static_cast<unsigned long long>(map->bucket_count), static_cast<unsigned long long>(bucket_count));
    // Every entry sits in the bucket of its stored hash, which is the key's
    // hash; together the entries are the model's multiset.
    std::map<std::pair<std::string, uint64_t>, int> seen;
    uint64_t entries = 0;
    for (uint64_t b = 0; b < map->bucket_count; b++)
        for (const HashEntry *e = map->buckets[b]; e; e = e->next) {
            entries++;
            if (entries > map->count) return fail(v, "more entries than count (or a cycle)");
            if ((e->hash & (map->bucket_count - 1)) != b)
                return fail(v, "entry in bucket %llu belongs elsewhere", static_cast<unsigned long long>(b));
            if (e->hash != siphash24_words(e->key, e->length, map->key[0], map->key[1]))
                return fail(v, "stored hash differs from the key's hash");
            seen[{std::string(static_cast<const char *>(e->key), e->length),
                  reinterpret_cast<uintptr_t>(e->value)}]++;
        }
    if (entries != map->count) return fail(v, "chains hold %llu entries, count says %llu",
                                           static_cast<unsigned long long>(entries),
                                           static_cast<unsigned long long>(map->count));
    for (const auto &kv : model)
        if (--seen[{kv.first, kv.second}] < 0) return fail(v, "model entry missing in map");
    // Lookups give the newest entry of each key, through either copy.
    for (size_t k = 0; k < pool.keys.size(); k++) {
        const std::string &key = pool.keys[k];
        const HashEntry *e = hashmap_find(map, pool.copies[k % 2][k].data(), key.size());
        if (key.find('\0') == std::string::npos &&
            hashmap_find(map, pool.copies[(k + 1) % 2][k].data(), 0) != e)
            return fail(v, "find of key %zu as a string and with its length differ", k);
        uint64_t newest;
        bool present = model_newest(model, key, &newest);
        if (present != (e != nullptr))
            return fail(v, "find of key %zu: map %s, model %s", k, e ? "found" : "none",
                        present ? "found" : "none");
        if (e && reinterpret_cast<uintptr_t>(e->value) != newest)
            return fail(v, "find of key %zu gave an older or wrong entry", k);
    }
}

// Picks a key and how to pass its length: explicitly, or as 0 (a
// zero-terminated string) where the key has no zero byte inside. The empty
// key can only be passed as a string.
const char *pick_key(OpReader *r, const KeyPool &pool, size_t *index, uint64_t *length) {
    uint8_t b = reader_byte(r);
    *index = (b >> 2) % pool.keys.size();
    const std::string &key = pool.keys[*index];
    bool as_string = (b & 1) && key.find('\0') == std::string::npos;
    *length = as_string || key.empty() ? 0 : key.size();
    return pool.copies[(b >> 1) & 1][*index].data();
}

void run_hashmap(OpReader *r, Verdict *v) {
    static const KeyPool pool = make_key_pool();
    uint64_t hint = reader_byte(r) % 40;
    HashMap *map = hashmap_create(hint, compare_bytes);
    if (!map) return fail(v, "hashmap_create(%llu) failed", static_cast<unsigned long long>(hint));
    uint64_t bucket_count = hint == 0 ? 16 : largest_power_of_two_upto(hint);
    MapModel model;
    uint64_t next_value = 1;
    for (; v->ok && reader_more(r); v->step++) {
        uint8_t op = reader_byte(r) % 8;
        size_t k;
        uint64_t length;
        bool grows = model.size() + 1 > bucket_count / 2 + bucket_count / 4;
        if (op == 0 || op == 1) {  // insert
            const char *key = pick_key(r, pool, &k, &length);
            uint64_t value = next_value++;
            if (hashmap_insert(map, key, length, tag(value)) != 0) fail(v, "insert failed");
            if (grows) bucket_count *= 2;
            model.emplace(pool.keys[k], value);
        } else if (op == 2 || op == 3) {  // remove the newest entry of a key
            const char *key = pick_key(r, pool, &k, &length);
            uint64_t newest;
            bool present = model_newest(model, pool.keys[k], &newest);
            int result = hashmap_remove(map, key, length);
            if (result != (present ? 0 : -1)) fail(v, "remove of key %zu gave %d", k, result);
            if (present) {
                auto range = model.equal_range(pool.keys[k]);
                for (auto it = range.first; it != range.second; ++it)
                    if (it->second == newest) {
                        model.erase(it);
                        break;
                    }
            }
        } else if (op == 4) {  // resize, hint 0 refused
            uint64_t new_hint = reader_byte(r) % 70;
            int result = hashmap_resize(map, new_hint);
            if (result != (new_hint == 0 ? -1 : 0)) fail(v, "resize(%llu) gave %d",
                                                         static_cast<unsigned long long>(new_hint), result);
            if (new_hint != 0) bucket_count = largest_power_of_two_upto(new_hint);
        } else if (op == 5 || op == 6) {  // insert where the entry (5) or the growth (6) fails
            const char *key = pick_key(r, pool, &k, &length);
            uint64_t value = next_value++;
            int result;
            {
                UtilAllocFailScope limited(op == 5 ? 0 : 1);
                result = hashmap_insert(map, key, length, tag(value));
            }
            if (op == 5 || grows) {
                if (result != -1) fail(v, "insert without memory reported success");
            } else {
                if (result != 0) fail(v, "insert needing no growth failed");
                model.emplace(pool.keys[k], value);
            }
        } else {  // resize without memory
            uint64_t new_hint = 1 + reader_byte(r) % 70;
            int result;
            {
                UtilAllocFailScope no_memory(0);
                result = hashmap_resize(map, new_hint);
            }
            if (result != -1) fail(v, "resize without memory reported success");
        }
        if (v->ok) hashmap_check(map, model, bucket_count, pool, v);
    }
    hashmap_destroy(map);
}

// ---------------------------------------------------------------- List

void list_check(const List *list, const std::list<void *> &model, Verdict *v) {
    if (list->count != model.size())
        return fail(v, "list count %llu, model %zu", static_cast<unsigned long long>(list->count),
                    model.size());
    if ((list->head == nullptr) != model.empty() || (list->tail == nullptr) != model.empty())
        return fail(v, "head/tail nullness disagrees with emptiness");
    const ListNode *prev = nullptr;
    const ListNode *node = list->head;
    for (void *item : model) {
        if (!node) return fail(v, "list ends early");
        if (node->data != item) return fail(v, "list item differs from model");
        if (node->prev != prev) return fail(v, "broken prev link");
        prev = node;
        node = node->next;
    }
    if (node) return fail(v, "list is longer than count");
    if (list->tail != prev) return fail(v, "tail is not the last node");
}

void run_list(OpReader *r, Verdict *v) {
    List *list = list_create();
    if (!list) return fail(v, "list_create failed");
    std::list<void *> model;
    uint64_t next_tag = 1;
    for (; v->ok && reader_more(r); v->step++) {
        uint8_t op = reader_byte(r) % 6;
        uint64_t count = model.size();
        if (op == 0) {  // append
            void *item = tag(next_tag++);
            if (list_append(list, item) != 0) fail(v, "append failed");
            model.push_back(item);
        } else if (op == 1) {  // insert at 0 .. count + 1 (the last one is refused)
            uint64_t index = reader_byte(r) % (count + 2);
            void *item = tag(next_tag++);
            int result = list_insert_at(list, item, index);
            if (result != (index <= count ? 0 : -1))
                fail(v, "insert at %llu gave %d", static_cast<unsigned long long>(index), result);
            if (index <= count) model.insert(std::next(model.begin(), static_cast<long>(index)), item);
        } else if (op == 2 || op == 3) {  // remove at 0 .. count (the last one is refused)
            uint64_t index = reader_byte(r) % (count + 1);
            void *item = list_remove_at(list, index);
            if (index >= count) {
                if (item) fail(v, "remove at count gave an item");
            } else {
                auto it = std::next(model.begin(), static_cast<long>(index));
                if (item != *it) fail(v, "remove at %llu gave the wrong item",
                                      static_cast<unsigned long long>(index));
                model.erase(it);
            }
        } else if (op == 4) {  // node at 0 .. count + 1
            uint64_t index = reader_byte(r) % (count + 2);
            const ListNode *node = list_node_at(list, index);
            if (index >= count) {
                if (node) fail(v, "node at %llu beyond the tail", static_cast<unsigned long long>(index));
            } else if (!node || node->data != *std::next(model.begin(), static_cast<long>(index))) {
                fail(v, "node at %llu differs", static_cast<unsigned long long>(index));
            }
        } else {  // insert without memory, anywhere including the end
            uint64_t index = reader_byte(r) % (count + 1);
            int result;
            {
                UtilAllocFailScope no_memory(0);
                result = list_insert_at(list, tag(next_tag++), index);
            }
            if (result != -1) fail(v, "insert without memory reported success");
        }
        if (v->ok) list_check(list, model, v);
    }
    list_destroy(list, nullptr);
}

// ---------------------------------------------------------------- ByteBuffer

// Mirrors the buffer's growth rule to predict capacities and failures.
struct BufferModel {
    std::string bytes;
    uint64_t capacity;
};

// Appends `run` to the model as single-byte appends would, with
// `allocations_left` successful growths allowed (negative: unlimited).
// Returns false where a growth would fail; the bytes before it stay.
bool buffer_model_append(BufferModel *m, const std::string &run, long allocations_left) {
    for (char c : run) {
        if (m->bytes.size() == m->capacity) {
            if (allocations_left == 0) return false;
            if (allocations_left > 0) allocations_left--;
            m->capacity = m->capacity == 0 ? 1 : m->capacity * 2;
        }
        m->bytes += c;
    }
    return true;
}

void buffer_check(const ByteBuffer *buffer, const BufferModel &m, Verdict *v) {
    if (buffer->length != m.bytes.size())
        return fail(v, "buffer length %u, model %zu", buffer->length, m.bytes.size());
    if (buffer->capacity != m.capacity)
        return fail(v, "buffer capacity %u, expected %llu", buffer->capacity,
                    static_cast<unsigned long long>(m.capacity));
    if (!m.bytes.empty() && memcmp(buffer->data, m.bytes.data(), m.bytes.size()) != 0)
        return fail(v, "buffer contents differ from model");
}

// A run of 0 to 19 operand bytes; `no_zero` maps zero bytes to 'z' so that
// the run can be passed as a zero-terminated string.
std::string read_run(OpReader *r, bool no_zero) {
    std::string run;
    int length = reader_byte(r) % 20;
    for (int i = 0; i < length; i++) {
        char c = static_cast<char>(reader_byte(r));
        run += no_zero && c == 0 ? 'z' : c;
    }
    return run;
}

void run_bytebuffer(OpReader *r, Verdict *v) {
    BufferModel m;
    m.capacity = reader_byte(r) % 12;
    ByteBuffer *buffer = bytebuffer_create(m.capacity);
    if (!buffer) return fail(v, "bytebuffer_create(%llu) failed", static_cast<unsigned long long>(m.capacity));
    for (; v->ok && reader_more(r); v->step++) {
        uint8_t op = reader_byte(r) % 9;
        if (op == 0) {  // one byte
            uint8_t byte = reader_byte(r);
            if (bytebuffer_append_byte(buffer, byte) != 0) fail(v, "append_byte failed");
            buffer_model_append(&m, std::string(1, static_cast<char>(byte)), -1);
        } else if (op == 1) {  // a zero-terminated string
            std::string s = read_run(r, true);
            int64_t result = bytebuffer_append_cstring(buffer, s.c_str());
            if (result != static_cast<int64_t>(s.size())) fail(v, "append_cstring gave %lld",
                                                               static_cast<long long>(result));
            buffer_model_append(&m, s, -1);
        } else if (op == 2) {  // a bounded prefix
            std::string s = read_run(r, true);
            uint64_t n = reader_byte(r) % 24;
            std::string prefix = s.substr(0, n);
            int64_t result = bytebuffer_append_prefix(buffer, s.c_str(), n);
            if (result != static_cast<int64_t>(prefix.size()))
                fail(v, "append_prefix gave %lld", static_cast<long long>(result));
            buffer_model_append(&m, prefix, -1);
        } else if (op == 3) {  // raw bytes, zeros included
            std::string s = read_run(r, false);
            int64_t result = bytebuffer_append_bytes(buffer, s.data(), s.size());
            if (result != static_cast<int64_t>(s.size())) fail(v, "append_bytes gave %lld",
                                                               static_cast<long long>(result));
            buffer_model_append(&m, s, -1);
        } else if (op == 4) {  // finish: a zero goes in and counts in length
            uint64_t length = 0, capacity = 0;
            uint64_t before = m.bytes.size();
            char *text = bytebuffer_finish(buffer, &length, &capacity);
            buffer_model_append(&m, std::string(1, '\0'), -1);
            if (!text || text != reinterpret_cast<char *>(buffer->data))
                fail(v, "finish did not return the storage");
            else if (length != before || capacity != m.capacity || text[before] != 0)
                fail(v, "finish reported length %llu capacity %llu",
                     static_cast<unsigned long long>(length), static_cast<unsigned long long>(capacity));
        } else if (op == 5) {  // drop, limited to the length
            uint64_t n = reader_byte(r) % 24;
            uint64_t removed = std::min<uint64_t>(n, m.bytes.size());
            if (bytebuffer_drop(buffer, n) != static_cast<int64_t>(removed))
                fail(v, "drop gave the wrong count");
            m.bytes.resize(m.bytes.size() - removed);
        } else if (op == 6) {  // clear
            if (bytebuffer_clear(buffer) != static_cast<int64_t>(m.bytes.size()))
                fail(v, "clear did not give the former length");
            m.bytes.clear();
        } else if (op == 7) {  // raw bytes with only 0 to 2 growths allowed
            long allowed = reader_byte(r) % 3;
            std::string s = read_run(r, false);
            int64_t result;
            {
                UtilAllocFailScope limited(allowed);
                result = bytebuffer_append_bytes(buffer, s.data(), s.size());
            }
            bool fits = buffer_model_append(&m, s, allowed);
            if (result != (fits ? static_cast<int64_t>(s.size()) : -1))
                fail(v, "append_bytes with %ld growths gave %lld", allowed, static_cast<long long>(result));
        } else {  // finish without memory: fails exactly when full
            bool full = m.bytes.size() == m.capacity;
            char *text;
            {
                UtilAllocFailScope no_memory(0);
                text = bytebuffer_finish(buffer, nullptr, nullptr);
            }
            if (full != (text == nullptr)) fail(v, "finish without memory: wrong outcome");
            if (!full) buffer_model_append(&m, std::string(1, '\0'), -1);
        }
        if (v->ok) buffer_check(buffer, m, v);
    }
    // Detach hands over exactly the contents plus a zero.
    uint64_t length = 0;
    char *text = bytebuffer_detach(buffer, &length, nullptr);
    if (!text) {
        fail(v, "detach failed");
        bytebuffer_destroy(buffer);
        return;
    }
    if (v->ok && (length != m.bytes.size() || memcmp(text, m.bytes.data(), length) != 0 ||
                  text[length] != 0))
        fail(v, "detached string differs from model");
    engine_free(text);
}

}  // namespace

bool util_model_run(UtilModelKind kind, const uint8_t *data, size_t size,
                    std::string *disagreement) {
    OpReader reader = {data, size, 0};
    Verdict verdict = {true, 0, std::string()};
    alloc_fail_after(-1);
    switch (kind) {
        case UTIL_MODEL_VECTOR: run_vector(&reader, &verdict); break;
        case UTIL_MODEL_HASHMAP: run_hashmap(&reader, &verdict); break;
        case UTIL_MODEL_LIST: run_list(&reader, &verdict); break;
        case UTIL_MODEL_BYTEBUFFER: run_bytebuffer(&reader, &verdict); break;
        default: fail(&verdict, "unknown container kind %d", static_cast<int>(kind)); break;
    }
    alloc_fail_after(-1);
    if (!verdict.ok && disagreement) *disagreement = verdict.message;
    return verdict.ok;
}

bool util_model_run_bytes(const uint8_t *data, size_t size, std::string *disagreement) {
    if (size == 0) return true;
    UtilModelKind kind = static_cast<UtilModelKind>(data[0] % UTIL_MODEL_KIND_COUNT);
    return util_model_run(kind, data + 1, size - 1, disagreement);
}
