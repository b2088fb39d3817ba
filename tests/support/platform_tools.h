// Outside programs the tests use (Xvfb, xdotool, xwd, sox, ImageMagick,
// netpbm). tools/install-deps.sh installs them all, so a test that needs
// one fails when it is missing, never skips:
//   ASSERT_EQ(missing_tool("sox", "sox"), "");
#ifndef TESTS_SUPPORT_PLATFORM_TOOLS_H
#define TESTS_SUPPORT_PLATFORM_TOOLS_H

#include <string>

// "" when `program` is an executable on PATH; otherwise one line naming
// it and the Debian package `package` that provides it.
std::string missing_tool(const char *program, const char *package);

#endif
