// The command lines of the project's programs: --help answers on standard
// output with status 0 and does nothing else, an option-looking argument is
// never taken as a file name, counts are read strictly, and every program
// ends with the one usage status, 2, for arguments it cannot take.
#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/program_args.h"
#include "support/program_run.h"
#include "support/test_files.h"

namespace {

const std::string BIN = ENGINE_BINARY_DIR "/";

}  // namespace

TEST(CommandLines, HelpPrintsUsageOnStandardOutputAndDoesNothingElse) {
    const std::string dir = make_temp_dir("command_lines_help");
    ASSERT_FALSE(dir.empty());
    for (const char *program : {"compose_kevo", "demo", "demo_shot", "gen_sine_table", "glyph_sheet", "image_sheet", "make_assets",
                                "make_sync_tracks", "make_busy_mod", "make_glyphs", "modplay", "modrender", "music_tables", "obj_triangles",
                                "particle_fountain", "scene_viewer", "showcase", "text_showcase", "sync_tracks"}) {
        for (const std::vector<std::string> &args :
             {std::vector<std::string>{"--help"}, std::vector<std::string>{"out.file", "--help"}}) {
            const ProcessResult r = run_program(BIN + program, args, {}, dir.c_str(), -1, 0);
            EXPECT_TRUE(r.exited && r.status == 0) << program << " status " << r.status << ": " << r.err;
            EXPECT_EQ(r.out.rfind("usage: ", 0), 0u) << program << ": " << r.out;
            EXPECT_NE(r.out.find(program), std::string::npos) << program << ": " << r.out;
            EXPECT_EQ(r.out.back(), '\n') << program;
            EXPECT_EQ(r.err, "") << program;
        }
        EXPECT_EQ(directory_names(dir), std::vector<std::string>{}) << program << " wrote a file";
    }
    remove_tree(dir);
}

TEST(CommandLines, OptionLookingArgumentsAndBadCountsAreRefused) {
    const std::string dir = make_temp_dir("command_lines_refused");
    ASSERT_FALSE(dir.empty());
    const std::string huge = "99999999999999999999";
    const struct {
        const char *program;
        std::vector<std::string> args;
    } cases[] = {
        {"demo", {"--bogus"}},
        {"demo", {"extra"}},
        {"demo_shot", {"--bogus"}},
        {"demo_shot", {"shot.png", "--bogus"}},
        {"demo_shot", {"shot.png", huge}},
        {"demo_shot", {"shot.png", "12abc"}},
        {"demo_shot", {"shot.png", "0"}},
        {"compose_kevo", {"--out"}},
        {"glyph_sheet", {"8x8", "--bogus"}},
        {"make_assets", {"--bogus"}},
        {"make_glyphs", {"-o", "a", "b", "c"}},
        {"gen_sine_table", {"extra"}},
        {"music_tables", {"extra"}},
        {"make_busy_mod", {"--bogus"}},
        {"obj_triangles", {"res/crate.obj", "--bogus"}},
        {"showcase", {"--frames", huge, "--shot", "shot.png"}},
        {"particle_fountain", {"--frames", huge, "--shot", "shot.png"}},
        {"particle_fountain", {"--frames", "2", "--shot", "--bogus"}},
        {"scene_viewer", {"--bogus"}},
        {"scene_viewer", {"--frames", "-5", "--shot", "shot.png"}},
        {"text_showcase", {"--frames", huge, "--shot", "shot.png"}},
        {"text_showcase", {"--frames", "2", "--shot", "--bogus"}},
        {"demo_shot", {"shot.png", "2", "extra"}},
        {"glyph_sheet", {"8x8"}},
        {"make_assets", {"a", "b"}},
        {"gen_sine_table", {"--bogus"}},
        {"particle_fountain", {"extra", "--frames", "1", "--shot", "shot.png"}},
        {"showcase", {"--frames", "1", "--shot", "shot.png", "extra"}},
        {"particle_fountain", {"--scale", "9", "--frames", "1", "--shot", "shot.png"}},
        {"scene_viewer", {"--frames", "1", "--shot", "shot.png", "--scale=+2"}},
        {"showcase", {"--frames", "1", "--shot", "shot.png", "--scale"}},
        {"text_showcase", {"--scale", "0", "--frames", "1", "--shot", "shot.png"}},
        {"text_showcase", {"--frames", "3"}},
        {"scene_viewer", {"a.obj", "b.obj", "--frames", "1", "--shot", "shot.png"}},
        {"glyph_sheet", {"9x9", "shot.png"}},
        {"image_sheet", {}},
        {"image_sheet", {"sheet.png", "--bogus"}},
        {"modrender", {"--seconds", "0", "in.mod", "out.wav"}},
    };
    for (const auto &c : cases) {
        const ProcessResult r =
            run_program(BIN + c.program, c.args, {"SDL_VIDEODRIVER=dummy", "SDL_AUDIODRIVER=dummy"}, dir.c_str(), -1, 0);
        std::string line = c.program;
        for (const std::string &a : c.args) line += " " + a;
        // One status for arguments a program cannot take, whichever it is.
        EXPECT_TRUE(r.exited && r.status == USAGE_ERROR_STATUS) << line << ": status " << r.status;
        EXPECT_NE(r.err, "") << line << ": says what is wrong";
        if (std::string(c.program) == "demo") {
            // Nothing started: the usage line alone.
            EXPECT_EQ(r.err, "usage: demo\n") << line;
        }
        EXPECT_EQ(r.out, "") << line;
        EXPECT_EQ(directory_names(dir), std::vector<std::string>{}) << line << " wrote a file";
    }
    remove_tree(dir);
}

TEST(ProgramArgs, WholeNumbersAreReadStrictly) {
    long value = 7;
    const struct {
        const char *text;
        long min, max;
        int result;
        long value;
    } cases[] = {
        {"0", 0, 10, 0, 0},
        {"10", 0, 10, 0, 10},
        {"11", 0, 10, -1, 0},
        {"-1", 0, 10, -1, 0},
        {"-1", -5, 10, 0, -1},
        {"", 0, 10, -1, 0},
        {"-", -5, 10, -1, 0},
        {" 1", 0, 10, -1, 0},
        {"1 ", 0, 10, -1, 0},
        {"+1", 0, 10, -1, 0},
        {"1e3", 0, 10000, -1, 0},
        {"0x10", 0, 100, -1, 0},
        {"007", 0, 10, 0, 7},
        {"9223372036854775807", 0, LONG_MAX, 0, LONG_MAX},
        {"9223372036854775808", 0, LONG_MAX, -1, 0},
        {"-9223372036854775808", LONG_MIN, 0, 0, LONG_MIN},
        {"-9223372036854775809", LONG_MIN, 0, -1, 0},
        {"99999999999999999999", 1, LONG_MAX, -1, 0},
    };
    for (const auto &c : cases) {
        value = 7;
        EXPECT_EQ(parse_long(c.text, c.min, c.max, &value), c.result) << "'" << c.text << "'";
        EXPECT_EQ(value, c.result == 0 ? c.value : 7) << "'" << c.text << "'";
    }
    EXPECT_TRUE(arg_is_option("-x"));
    EXPECT_TRUE(arg_is_option("--help"));
    EXPECT_FALSE(arg_is_option("-"));
    EXPECT_FALSE(arg_is_option("x-"));
}

TEST(ProgramArgs, PlainArgumentsAreCountedAndOtherwiseTheUsageLineIsSaid) {
    const char *usage = "usage: tool IN [OUT]\nWhat the tool does,\nat length.\n";
    const struct {
        std::vector<std::string> args;
        int min, max;
        bool plain;
    } cases[] = {
        {{}, 1, 2, false},
        {{"in"}, 1, 2, true},
        {{"in", "out"}, 1, 2, true},
        {{"in", "out", "x"}, 1, 2, false},
        {{"-"}, 1, 1, true},
        {{"in", "-o"}, 1, 2, false},
        {{"--in"}, 0, 1, false},
        {{}, 0, 0, true},
        {{"x"}, 0, 0, false},
    };
    for (const auto &c : cases) {
        std::vector<char *> argv = {const_cast<char *>("tool")};
        for (const std::string &a : c.args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        fflush(stderr);
        FILE *said = tmpfile();
        ASSERT_NE(said, nullptr);
        const int saved = dup(2);
        dup2(fileno(said), 2);
        const bool plain = args_expect_plain(static_cast<int>(c.args.size()) + 1, argv.data(), c.min, c.max, usage);
        fflush(stderr);
        dup2(saved, 2);
        close(saved);
        char text[128] = {};
        rewind(said);
        const size_t n = fread(text, 1, sizeof text - 1, said);
        fclose(said);
        std::string line = "tool";
        for (const std::string &a : c.args) line += " " + a;
        EXPECT_EQ(plain, c.plain) << line;
        EXPECT_EQ(std::string(text, n), c.plain ? "" : "usage: tool IN [OUT]\n") << line;
    }
}
