// Temporary directories and whole files for tests.
#include "support/test_files.h"

#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

constexpr const char TEMP_DIR_PREFIX[] = "/engine_";

std::string temp_base_dir(void) {
    const char *base = getenv("TMPDIR");
    return base && *base ? base : "/tmp";
}

std::string make_temp_dir(const char *tag) {
    std::string pattern = temp_base_dir() + TEMP_DIR_PREFIX + tag + "_XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr) return "";
    return std::string(name.data());
}

void remove_tree(const std::string &dir) {
    // Only what make_temp_dir made, and never a name a shell would split.
    if (dir.find(TEMP_DIR_PREFIX) == std::string::npos || dir.find('\'') != std::string::npos) return;
    const std::string command = "rm -rf '" + dir + "'";
    if (system(command.c_str()) != 0) fprintf(stderr, "test: could not remove %s\n", dir.c_str());
}

bool write_whole_file(const std::string &path, const std::vector<uint8_t> &bytes) {
    FILE *file = fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && ok;
}

bool read_whole_file(const std::string &path, std::vector<uint8_t> *bytes) {
    FILE *file = fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    bytes->clear();
    uint8_t chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) bytes->insert(bytes->end(), chunk, chunk + got);
    const bool ok = !ferror(file);
    fclose(file);
    return ok;
}

std::vector<std::string> directory_names(const std::string &dir) {
    std::vector<std::string> names;
    DIR *d = opendir(dir.c_str());
    if (d == nullptr) return names;
    while (const dirent *e = readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}
