// Running the project's programs captured (KEVO_CAPTURE), for the tests of
// the capture and of the programs: the environment of a capture, and a
// program run under it from the source tree.
#ifndef SUPPORT_PROGRAM_CAPTURE_H
#define SUPPORT_PROGRAM_CAPTURE_H

#include <string>
#include <vector>

#include "support/program_run.h"

// The environment of a capture into `target` of `frames` frames, beside
// `env`. The capture chooses the dummy drivers itself: the display and
// sound device named here must not be needed.
inline std::vector<std::string> capture_env(const std::string &target, const std::string &frames,
                                            std::vector<std::string> env = {}) {
    env.push_back("KEVO_CAPTURE=" + target);
    env.push_back("KEVO_CAPTURE_FRAMES=" + frames);
    env.push_back("SDL_VIDEODRIVER=x11");
    env.push_back("DISPLAY=:4321");
    env.push_back("SDL_AUDIODRIVER=alsa");
    return env;
}

// Runs the built program `program` captured, from the source tree.
inline ProcessResult run_captured(const std::string &program, const std::string &target, const std::string &frames,
                                  std::vector<std::string> args = {}, std::vector<std::string> env = {}) {
    return run_program(ENGINE_BINARY_DIR "/" + program, args, capture_env(target, frames, env), ENGINE_SOURCE_DIR,
                       -1, 0);
}

// The bytes of the file at `path` (none when it cannot be read).
inline std::vector<uint8_t> bytes_of(const std::string &path) {
    std::vector<uint8_t> bytes;
    read_whole_file(path, &bytes);
    return bytes;
}

#endif
