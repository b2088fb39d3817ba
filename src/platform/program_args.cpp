// Command-line helpers of the tools and examples.
#include "platform/program_args.h"

#include <climits>
#include <cstdio>
#include <cstring>

bool arg_is_option(const char *arg) { return arg[0] == '-' && arg[1] != '\0'; }

bool args_answer_help(int argc, char **argv, const char *usage) {
    for (int i = 1; i < argc; i++)
        if (strcmp(argv[i], "--help") == 0) {
            fputs(usage, stdout);
            return true;
        }
    return false;
}

bool args_expect_plain(int argc, char **argv, int min, int max, const char *usage) {
    bool plain = argc - 1 >= min && argc - 1 <= max;
    for (int i = 1; i < argc && plain; i++) plain = !arg_is_option(argv[i]);
    if (!plain) fprintf(stderr, "%.*s\n", static_cast<int>(strcspn(usage, "\n")), usage);
    return plain;
}

int parse_long(const char *text, long min, long max, long *value) {
    const bool negative = text[0] == '-' && min < 0;
    const char *digit = negative ? text + 1 : text;
    if (*digit == '\0') return -1;
    // Accumulated as a negative number, whose range holds LONG_MIN too.
    long result = 0;
    for (; *digit != '\0'; digit++) {
        if (*digit < '0' || *digit > '9') return -1;
        const int d = *digit - '0';
        if (result < (LONG_MIN + d) / 10) return -1;
        result = result * 10 - d;
    }
    if (!negative) {
        if (result == LONG_MIN) return -1;
        result = -result;
    }
    if (result < min || result > max) return -1;
    *value = result;
    return 0;
}
