// Finding the outside programs the tests need on PATH.
#include "support/platform_tools.h"

#include <unistd.h>

#include <cstdlib>

std::string missing_tool(const char *program, const char *package) {
    const char *path = getenv("PATH");
    const std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        const size_t end = dirs.find(':', start);
        std::string dir = dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (dir.empty()) dir = ".";
        if (access((dir + "/" + program).c_str(), X_OK) == 0) return "";
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return std::string(program) + " is missing: install the Debian package " + package +
           " (tools/install-deps.sh installs everything the tests need)\n";
}
