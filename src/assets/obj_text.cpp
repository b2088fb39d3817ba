// The text primitives of the model loaders: opening a file, tokens, and
// the decimal-to-Fixed parser. Lines come from obj_lines.h.
#include "assets/obj.h"
#include "util/file_open.h"

int obj_open_read(const char *path, const char **why) {
    if (path == nullptr) {
        *why = "no file name";
        return -1;
    }
    return open_regular_file(path, why);
}

static bool is_separator(char c) { return c == ' ' || c == '\t'; }

char *obj_next_token(char **cursor) {
    char *start = *cursor;
    while (is_separator(*start)) start++;
    if (*start == '\0') {
        *cursor = start;
        return nullptr;
    }
    char *end = start;
    while (*end != '\0' && !is_separator(*end)) end++;
    if (*end != '\0') *end++ = '\0';
    *cursor = end;
    return start;
}

// Fraction digits whose value, times 65536, still fits in 64 bits.
constexpr int FRACTION_DIGITS_AT_ONCE = 14;
constexpr uint64_t POWERS_OF_TEN[FRACTION_DIGITS_AT_ONCE + 1] = {
    1ull,           10ull,           100ull,           1000ull,           10000ull,
    100000ull,      1000000ull,      10000000ull,      100000000ull,      1000000000ull,
    10000000000ull, 100000000000ull, 1000000000000ull, 10000000000000ull, 100000000000000ull};

static bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The fraction digits from `first` up to `end` as a 16-bit fraction. Folded
// in from the last digit back to the first, each step truncating:
// f = (f + digit * 65536) / 10. Since every step only floors an exact
// quotient, the result is floor(65536 * 0.d1 d2 ... dn), which for up to
// FRACTION_DIGITS_AT_ONCE digits is one integer division: the same value
// without the pass back over the digits.
static uint32_t fraction_bits(const char *first, const char *end, uint64_t digits) {
    const long count = end - first;
    if (count <= FRACTION_DIGITS_AT_ONCE) return static_cast<uint32_t>((digits << FIXED_SHIFT) / POWERS_OF_TEN[count]);
    // f stays below 65536, so f + 9 * 65536 never overflows.
    uint32_t fraction = 0;
    for (const char *digit = end; digit != first;) {
        digit--;
        fraction = (fraction + static_cast<uint32_t>(*digit - '0') * static_cast<uint32_t>(FIXED_ONE)) / 10;
    }
    return fraction;
}

// parse_fixed of the number at the start of `text` (not null), storing it
// in *value; returns where the number ends.
static const char *parse_fixed_prefix(const char *text, Fixed *value) {
    bool negative = *text == '-';
    if (negative) text++;
    uint32_t integer = 0;  // wraps like the 32-bit accumulator it stands for
    while (is_digit(*text)) integer = integer * 10 + static_cast<uint32_t>(*text++ - '0');
    uint32_t result = integer << FIXED_SHIFT;
    if (*text == '.') {
        const char *first = ++text;
        uint64_t digits = 0;  // the first FRACTION_DIGITS_AT_ONCE of them
        while (is_digit(*text)) {
            if (text - first < FRACTION_DIGITS_AT_ONCE) digits = digits * 10 + static_cast<uint64_t>(*text - '0');
            text++;
        }
        result += fraction_bits(first, text, digits);
    }
    *value = static_cast<Fixed>(negative ? 0u - result : result);
    return text;
}

Fixed parse_fixed(const char *text) {
    if (text == nullptr) return 0;
    Fixed value;
    parse_fixed_prefix(text, &value);
    return value;
}

Fixed obj_next_fixed(char **cursor) {
    const char *start = *cursor;
    while (is_separator(*start)) start++;
    Fixed value = 0;
    const char *end = *start != '\0' ? parse_fixed_prefix(start, &value) : start;
    while (*end != '\0' && !is_separator(*end)) end++;  // what follows the number
    *cursor = const_cast<char *>(end);
    return value;
}
