// Files for tests: fresh temporary directories and whole-file reads and
// writes, shared by every test that works on real files.
#ifndef TESTS_SUPPORT_TEST_FILES_H
#define TESTS_SUPPORT_TEST_FILES_H

#include <cstdint>
#include <string>
#include <vector>

// Where temporary files go: $TMPDIR when set and not empty, else /tmp.
std::string temp_base_dir(void);

// A fresh empty directory $TMPDIR/engine_<tag>_XXXXXX (TMPDIR defaults to
// /tmp); "" when it cannot be made.
std::string make_temp_dir(const char *tag);

// Removes a directory tree made by make_temp_dir; anything else is left
// alone.
void remove_tree(const std::string &dir);

// Writes `bytes` as the whole file; true on success.
bool write_whole_file(const std::string &path, const std::vector<uint8_t> &bytes);

// Reads the whole file into *bytes; false when it cannot be read.
bool read_whole_file(const std::string &path, std::vector<uint8_t> *bytes);

// The names in `dir`, "." and ".." aside, sorted; empty when it cannot be
// read.
std::vector<std::string> directory_names(const std::string &dir);

#endif
