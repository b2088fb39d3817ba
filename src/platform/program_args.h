// Command-line helpers shared by the tools and examples: --help, telling
// options from file names, the usage line for arguments a program cannot
// take, and whole numbers read strictly.
#ifndef PLATFORM_PROGRAM_ARGS_H
#define PLATFORM_PROGRAM_ARGS_H

// The exit status of every program on the engine for arguments it cannot
// take (an unknown option, a missing or extra argument, a value out of
// range); 1 is left for a failure to do the work.
constexpr int USAGE_ERROR_STATUS = 2;

// True for an argument that looks like an option ("-x", "--name"); such an
// argument is never taken as a file name. A lone "-" is not an option.
bool arg_is_option(const char *arg);

// When any argument is "--help", writes `usage` (the whole text, ending in
// a newline) on standard output and returns true: the program then ends
// with status 0 and does nothing else.
bool args_answer_help(int argc, char **argv, const char *usage);

// True when the arguments after the program's name are `min` to `max`
// plain ones, none of them option-looking. Otherwise writes the first line
// of `usage` (the usage line of the --help text) on standard error and
// returns false: the program then ends with USAGE_ERROR_STATUS.
bool args_expect_plain(int argc, char **argv, int min, int max, const char *usage);

// Reads `text` as a whole decimal number from `min` to `max` inclusive:
// digits only, with a leading '-' only when min is below 0, nothing before
// or after them, and no value that overflows on the way. 0 with *value
// set; -1 otherwise, with *value untouched.
int parse_long(const char *text, long min, long max, long *value);

#endif
