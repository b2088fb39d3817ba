// The modrender tool, run as a user would: WAV header and length checked
// both by hand and by sox, the samples equal to the engine's player
// rendering the same module, the listing taken from the module's own
// header bytes, a progress bar only on a terminal, and clean failures that
// write nothing: never over its input, never half a file when stopped.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "music/mod_player.h"
#include "support/music_formatbuilder.h"
#include "support/music_modbuilder.h"
#include "support/music_wide_songs.h"
#include "support/program_run.h"
#include "support/platform_process.h"
#include "support/platform_tools.h"

static const std::string MODRENDER = ENGINE_BINARY_DIR "/modrender";
static const std::string KEVO = ENGINE_SOURCE_DIR "/res/kevo.mod";
constexpr size_t WAV_HEADER = 44;

static uint32_t le32(const std::vector<uint8_t> &b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
static uint32_t le16(const std::vector<uint8_t> &b, size_t at) { return b[at] | b[at + 1] << 8; }

// Checks the canonical 44-byte PCM header of a 44100 Hz stereo 16-bit file
// holding `frames` frames, and the file's length.
static void expect_wav_header(const std::vector<uint8_t> &wav, long frames) {
    ASSERT_GE(wav.size(), WAV_HEADER);
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    EXPECT_EQ(le32(wav, 4), wav.size() - 8);
    EXPECT_EQ(std::string(wav.begin() + 8, wav.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(le32(wav, 16), 16u);
    EXPECT_EQ(le16(wav, 20), 1u);        // PCM
    EXPECT_EQ(le16(wav, 22), 2u);        // stereo
    EXPECT_EQ(le32(wav, 24), 44100u);
    EXPECT_EQ(le32(wav, 28), 44100u * 4);
    EXPECT_EQ(le16(wav, 32), 4u);
    EXPECT_EQ(le16(wav, 34), 16u);
    EXPECT_EQ(std::string(wav.begin() + 36, wav.begin() + 40), "data");
    EXPECT_EQ(le32(wav, 40), static_cast<uint32_t>(frames) * 4);
    EXPECT_EQ(wav.size(), WAV_HEADER + static_cast<size_t>(frames) * 4);
}

// sox reads the file independently: rate, channels, bits and samples.
static void expect_sox_agrees(const std::string &wav, long frames) {
    ASSERT_EQ(missing_tool("sox", "sox"), "");
    ProcessResult r = run_program("/usr/bin/sox", {"--i", wav}, {}, nullptr, -1, SIGTERM);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Channels       : 2"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Sample Rate    : 44100"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Precision      : 16-bit"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" = " + std::to_string(frames) + " samples"), std::string::npos)
        << r.out;
}

static std::vector<uint8_t> load(const std::string &path) {
    int ok = 0;
    std::vector<uint8_t> bytes;
    ok = read_whole_file(path, &bytes);
    EXPECT_TRUE(ok) << path;
    return bytes;
}

TEST(ModRender, KevoForThreeSecondsListsTheModuleAndMatchesThePlayer) {
    const std::string dir = make_temp_dir("modrender_kevo");
    const std::string wav_path = dir + "/kevo.wav";
    const std::string timeline_path = dir + "/kevo.timeline";
    ProcessResult r = run_program(MODRENDER, {"--seconds", "3", "--timeline", timeline_path, KEVO, wav_path}, {},
                                  nullptr, -1, SIGTERM);
    ASSERT_TRUE(r.exited);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");  // not a terminal: no progress bar
    const long frames = 3 * 44100;
    std::vector<uint8_t> wav = load(wav_path);
    expect_wav_header(wav, frames);
    expect_sox_agrees(wav_path, frames);

    // The listing, checked against the module's own header bytes.
    std::vector<uint8_t> m = load(KEVO);
    EXPECT_NE(r.out.find("Title:    kevo\nFormat:   MOD M.K.\nChannels: 4\nSamples:\n"), std::string::npos) << r.out;
    int listed = 0;
    for (int n = 1; n <= 31; n++) {
        const size_t h = 20 + (n - 1) * 30;
        const unsigned length = (m[h + 22] << 8 | m[h + 23]) * 2;
        const std::string name(reinterpret_cast<const char *>(&m[h]),
                               strnlen(reinterpret_cast<const char *>(&m[h]), 22));
        if (length == 0) continue;
        listed++;
        const size_t at = r.out.find(name);
        ASSERT_NE(at, std::string::npos) << "sample " << n << " '" << name << "'";
        const std::string line = r.out.substr(at, r.out.find('\n', at) - at);
        EXPECT_NE(line.find(" " + std::to_string(length) + " bytes"), std::string::npos) << line;
    }
    EXPECT_GE(listed, 6);
    EXPECT_NE(r.out.find("Song:     " + std::to_string(m[950]) + " positions"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Duration: 0:03.0 (132300 frames"), std::string::npos) << r.out;

    // The samples: the engine's player with looping off, rendered here.
    ModPlayer *player = mod_player_create(44100, m.data(), static_cast<long>(m.size()));
    ASSERT_NE(player, nullptr);
    std::vector<int16_t> expected(2 * frames);
    mod_player_render_s16(player, expected.data(), static_cast<int>(frames));
    mod_player_destroy(player);
    for (long i = 0; i < 2 * frames; i++) {
        const int16_t got = static_cast<int16_t>(le16(wav, WAV_HEADER + 2 * i));
        ASSERT_EQ(got, expected[i]) << "sample " << i;
    }

    // The timeline: kevo.mod's first pattern at speed 6 and tempo 125, a
    // row each 6 x 882 frames after the one-row lead-in, up to the 3 s.
    const std::vector<uint8_t> timeline = load(timeline_path);
    std::string model = "# frame order row speed tempo\n";
    for (int row = 0; 6 * 882 * (row + 1) <= frames; row++)
        model += std::to_string(6 * 882 * (row + 1)) + " 0 " + std::to_string(row) + " 6 125\n";
    EXPECT_EQ(std::string(timeline.begin(), timeline.end()), model);
    remove_tree(dir);
}

// Every format lists its format and channels; an XM lists its instruments
// with the samples their notes play, 16-bit and ping-pong said; the WAV
// is the player's song whatever the format; an S3M's Adlib instrument is
// named once on standard error.
TEST(ModRender, ListsFormatChannelsAndInstrumentsOfEveryFormat) {
    const std::string dir = make_temp_dir("modrender_formats");
    const struct {
        const char *name;
        std::vector<uint8_t> bytes;
        std::vector<std::string> lines;
        const char *err;
    } cases[] = {
        {"wide.xm", wide_xm_song(12),
         {"Title:    wide xm\nFormat:   XM 1.04, kevo test builder\nChannels: 12\nInstruments:\n",
          "\n   1  looped saw\n       1  saw 8                       64 bytes  loop 0+64\n",
          "\n   2  two samples\n       2  low 8                     2000 bytes\n"
          "       3  high 16                    600 bytes  16-bit  loop 120+480 ping-pong\nSong:     5 positions\n"},
         ""},
        {"wide.s3m", wide_s3m_song(9),
         {"Title:    wide s3m\nFormat:   S3M, Scream Tracker 3.20\nChannels: 9\nSamples:\n",
          "\n   1  saw 8                       64 bytes  loop 0+64\n   2  saw 16                    6000 bytes  16-bit\n"
          "Song:     3 positions\n"},
         ""},
        {"wide.mod", wide_mod_song(8), {"Format:   MOD 8CHN\nChannels: 8\nSamples:\n"}, ""},
        {"wide.it", wide_it_song(40),
         {"Title:    wide it\nFormat:   IT 2.14, Impulse Tracker 2.15\nChannels: 40\nMessage:  wide it\nInstruments:\n",
          "\n   2  two samples\n       2  low 8                     2000 bytes\n"
          "       3  high 16                   1200 bytes  16-bit  stereo  loop 240+960 ping-pong\nSong:     5 positions\n"},
         ""},
        {"adlib.s3m", wide_s3m_song(6, true), {"Channels: 6\nSamples:\n", "16-bit"},
         "modrender: '$': 1 Adlib instrument is not played: its notes stay silent\n"},
    };
    for (const auto &c : cases) {
        const std::string path = dir + "/" + c.name, wav_path = dir + "/out.wav";
        ASSERT_TRUE(write_whole_file(path, c.bytes));
        ProcessResult r = run_program(MODRENDER, {"--seconds", "2", path, wav_path}, {}, nullptr, -1, SIGTERM);
        ASSERT_EQ(r.status, 0) << c.name << ": " << r.err;
        for (const std::string &line : c.lines) EXPECT_NE(r.out.find(line), std::string::npos) << c.name << ":\n" << r.out;
        std::string err = c.err;
        if (err.find('$') != std::string::npos) err.replace(err.find('$'), 1, path);
        EXPECT_EQ(r.err, err) << c.name;
        const std::vector<uint8_t> wav = load(wav_path);
        expect_wav_header(wav, 2 * 44100);
        ModPlayer *player = mod_player_create(44100, c.bytes.data(), static_cast<long>(c.bytes.size()));
        ASSERT_NE(player, nullptr) << c.name;
        std::vector<int16_t> expected(2 * 2 * 44100);
        mod_player_render_s16(player, expected.data(), 2 * 44100);
        mod_player_destroy(player);
        ASSERT_EQ(wav.size(), WAV_HEADER + 2 * expected.size());
        EXPECT_EQ(memcmp(&wav[WAV_HEADER], expected.data(), 2 * expected.size()), 0) << c.name;
        EXPECT_GT(std::count_if(expected.begin(), expected.end(), [](int16_t v) { return v != 0; }), 44100) << c.name;
    }
    remove_tree(dir);
}

TEST(ModRender, WholeSongStopsWhereThePlayerFinishes) {
    ModBuilder b;
    modbuilder_busy_song(&b);
    std::vector<uint8_t> module = modbuilder_build(&b);
    const std::string dir = make_temp_dir("modrender_busy");
    const std::string mod_path = dir + "/busy.mod", wav_path = dir + "/busy.wav";
    ASSERT_TRUE(write_whole_file(mod_path, module));

    // The reference end: one frame per render call until the player says
    // the song has finished, keeping every frame.
    ModPlayer *player = mod_player_create(44100, module.data(), static_cast<long>(module.size()));
    ASSERT_NE(player, nullptr);
    std::vector<int16_t> expected;
    int16_t frame[2];
    while (!mod_player_is_finished(player) && expected.size() < 2u * 44100 * 600) {
        mod_player_render_s16(player, frame, 1);
        expected.push_back(frame[0]);
        expected.push_back(frame[1]);
    }
    ASSERT_TRUE(mod_player_is_finished(player));
    mod_player_destroy(player);
    const long frames = static_cast<long>(expected.size()) / 2;

    ProcessResult r = run_program(MODRENDER, {mod_path, wav_path}, {}, nullptr, -1, SIGTERM);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Title:    busy test song"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("(" + std::to_string(frames) + " frames"), std::string::npos) << r.out;
    std::vector<uint8_t> wav = load(wav_path);
    expect_wav_header(wav, frames);
    expect_sox_agrees(wav_path, frames);
    for (long i = 0; i < 2 * frames; i++) {
        const int16_t got = static_cast<int16_t>(le16(wav, WAV_HEADER + 2 * i));
        ASSERT_EQ(got, expected[i]) << "sample " << i;
    }

    // --seconds shorter than the song cuts it; --loop with --seconds
    // longer than the song goes on from its start.
    r = run_program(MODRENDER, {"--seconds", "1.5", mod_path, wav_path}, {}, nullptr, -1, SIGTERM);
    ASSERT_EQ(r.status, 0) << r.err;
    expect_wav_header(load(wav_path), 66150);
    const long looped_frames = frames + 44100;
    const std::string seconds = std::to_string(static_cast<double>(looped_frames) / 44100.0);
    r = run_program(MODRENDER, {"--loop", "--seconds", seconds, mod_path, wav_path}, {}, nullptr,
                    -1, SIGTERM);
    ASSERT_EQ(r.status, 0) << r.err;
    wav = load(wav_path);
    expect_wav_header(wav, looped_frames);
    long audible_after_end = 0;
    for (long i = 2 * frames; i < 2 * looped_frames; i++)
        audible_after_end += le16(wav, WAV_HEADER + 2 * i) != 0;
    EXPECT_GT(audible_after_end, 44100) << "the looped song fell silent after its end";
    remove_tree(dir);
}

TEST(ModRender, ShowsAProgressBarOnlyOnATerminal) {
    const std::string dir = make_temp_dir("modrender_tty");
    const std::string wav_path = dir + "/kevo.wav";
    // script(1) runs the tool with a pseudo-terminal as its output.
    const std::string command = MODRENDER + " --seconds 2 '" + KEVO + "' '" + wav_path + "'";
    ProcessResult r = run_program("/usr/bin/script", {"-qec", command, "/dev/null"}, {}, nullptr,
                                  -1, SIGTERM);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("\r["), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("] 100%"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("########################################]"), std::string::npos);
    expect_wav_header(load(wav_path), 2 * 44100);
    remove_tree(dir);
}

TEST(ModRender, BadInputFailsWithOneLineAndWritesNothing) {
    const std::string dir = make_temp_dir("modrender_bad");
    std::vector<uint8_t> kevo = load(KEVO);
    std::vector<uint8_t> wrong(kevo);
    memcpy(&wrong[1080], "OKTX", 4);
    struct Case {
        const char *name;
        int present;
        std::vector<uint8_t> bytes;
        const char *message;
    } cases[] = {
        {"missing.mod", 0, {}, "cannot open"},
        {"empty.mod", 1, {}, "is not a module: the file is empty"},
        {"signature.mod", 1, wrong, "is not a module: no MOD, XM, S3M or IT signature (bytes 1080 to 1083 read \"OKTX\")"},
        {"truncated.mod", 1, std::vector<uint8_t>(kevo.begin(), kevo.begin() + 4000),
         "is not a module: truncated"},
        {"header.mod", 1, std::vector<uint8_t>(kevo.begin(), kevo.begin() + 1000),
         "is not a module: 1000 bytes is too short"},
    };
    const std::string wav_path = dir + "/out.wav";
    const std::vector<uint8_t> keep = {'k', 'e', 'e', 'p'};
    for (const Case &c : cases) {
        const std::string path = dir + "/" + c.name;
        if (c.present) {
            ASSERT_TRUE(write_whole_file(path, c.bytes));
        }
        // A new output is not created ...
        ProcessResult r = run_program(MODRENDER, {path, wav_path}, {}, nullptr, -1, SIGTERM);
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_EQ(r.out, "") << c.name;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.err.rfind("modrender: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("'" + path + "'"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_FALSE(file_exists(wav_path)) << c.name;
        // ... and an existing one is left as it was.
        ASSERT_TRUE(write_whole_file(wav_path, keep));
        r = run_program(MODRENDER, {path, wav_path}, {}, nullptr, -1, SIGTERM);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(load(wav_path), keep) << c.name;
        remove(wav_path.c_str());
    }

    // Wrong use of the command line and an output that cannot be created.
    const std::vector<std::vector<std::string>> misuse = {
        {},
        {KEVO},
        {"--seconds", "x", KEVO, wav_path},
        {"--seconds", "0", KEVO, wav_path},
        {"--seconds", "-3", KEVO, wav_path},
        {"--seconds", "0.00002", KEVO, wav_path},    // under one frame
        {"--seconds", "99999999999999999999", KEVO, wav_path},
        {"--seconds", "1e999", KEVO, wav_path},
        {"--seconds", "3x", KEVO, wav_path},
        {"--loop", KEVO, wav_path},
        {"--frobnicate", KEVO, wav_path},
        {"-", wav_path},
        {KEVO, "-o"},
        {KEVO, wav_path, "--seconds"},
        {KEVO, wav_path, "third"},
    };
    for (const std::vector<std::string> &args : misuse) {
        ProcessResult r = run_program(MODRENDER, args, {}, nullptr, -1, SIGTERM);
        EXPECT_EQ(r.status, 2) << (args.empty() ? "(none)" : args[0]);
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_FALSE(file_exists(wav_path));
    }
    const std::string unwritable = dir + "/no/such/dir/out.wav";
    ProcessResult r = run_program(MODRENDER, {KEVO, unwritable}, {}, nullptr, -1, SIGTERM);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(count_lines_with(r.err, "modrender: cannot create '" + unwritable + "'"), 1) << r.err;
    // Writing fails part way (a full device): one line, status 1, and the
    // device is not deleted as if it were a partial file.
    r = run_program(MODRENDER, {"--seconds", "1", KEVO, "/dev/full"}, {}, nullptr, -1, SIGTERM);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(count_lines_with(r.err, "modrender: cannot write '/dev/full'"), 1) << r.err;
    EXPECT_TRUE(file_exists("/dev/full"));
    remove_tree(dir);
}

// Names in `dir`, without "." and "..", sorted.
static std::vector<std::string> dir_entries(const std::string &dir) {
    std::vector<std::string> names;
    DIR *d = opendir(dir.c_str());
    if (!d) return names;
    while (struct dirent *e = readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

// The size of the largest file in `dir` other than `except`, 0 for none.
static off_t largest_other_file(const std::string &dir, const std::string &except) {
    off_t largest = 0;
    for (const std::string &name : dir_entries(dir)) {
        struct stat st;
        if (name != except && stat((dir + "/" + name).c_str(), &st) == 0 && st.st_size > largest)
            largest = st.st_size;
    }
    return largest;
}

// Runs modrender with `args` in `dir`, output and errors discarded, and
// returns its wait status. With `stop_at_bytes` > 0 it sends
// `stop_signal` once some file in `dir` other than `input` has grown to
// that size (the render is then well under way); with `size_limit` > 0 the
// program runs under that file-size limit; with `nohup` it starts with
// SIGHUP ignored.
static int run_modrender_in(const std::string &dir, const std::vector<std::string> &args,
                            const std::string &input, off_t stop_at_bytes, rlim_t size_limit,
                            int stop_signal = SIGTERM, bool nohup = false) {
    const pid_t pid = fork();
    if (pid == 0) {
        stop_signals_to_default();
        if (nohup) signal(SIGHUP, SIG_IGN);
        if (chdir(dir.c_str()) != 0) _exit(126);
        if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(126);
        if (size_limit > 0) {
            struct rlimit limit = {size_limit, size_limit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        std::vector<char *> argv = {const_cast<char *>(MODRENDER.c_str())};
        for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(MODRENDER.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    for (int waited_ms = 0; waited_ms < 60000; waited_ms += 5) {
        if (waitpid(pid, &status, WNOHANG) == pid) return status;
        if (stop_at_bytes > 0 && largest_other_file(dir, input) >= stop_at_bytes) {
            kill(pid, stop_signal);
            stop_at_bytes = 0;
        }
        const struct timespec pause = {0, 5000000};
        nanosleep(&pause, nullptr);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return status;
}

TEST(ModRender, NeverOverwritesItsInputNorLeavesHalfAFile) {
    const std::string dir = make_temp_dir("modrender_safe");
    ModBuilder b;
    modbuilder_busy_song(&b);
    const std::vector<uint8_t> module = modbuilder_build(&b);
    ASSERT_TRUE(write_whole_file(dir + "/song.mod", module));

    // The input under another name: itself, "./", a hard link, a symlink.
    ASSERT_EQ(link((dir + "/song.mod").c_str(), (dir + "/hard.wav").c_str()), 0);
    ASSERT_EQ(symlink("song.mod", (dir + "/soft.wav").c_str()), 0);
    for (const char *out : {"song.mod", "./song.mod", "hard.wav", "soft.wav"}) {
        ProcessResult r = run_program(MODRENDER, {"song.mod", out}, {}, dir.c_str(), -1, SIGTERM);
        EXPECT_EQ(r.status, 1) << out;
        EXPECT_EQ(count_lines_with(r.err, "is the input module 'song.mod'"), 1) << r.err;
        EXPECT_EQ(load(dir + "/song.mod"), module) << out;
    }
    EXPECT_EQ(dir_entries(dir), (std::vector<std::string>{"hard.wav", "soft.wav", "song.mod"}));
    remove((dir + "/hard.wav").c_str());
    remove((dir + "/soft.wav").c_str());

    // Stopped with SIGTERM in the middle of a long render: an existing
    // output keeps its old bytes, a new one does not appear, and the
    // unfinished file is gone; the signal still ends the program.
    const std::vector<uint8_t> old_bytes = {'o', 'l', 'd'};
    ASSERT_TRUE(write_whole_file(dir + "/old.wav", old_bytes));
    for (const char *out : {"old.wav", "new.wav"}) {
        const int status = run_modrender_in(dir, {"--loop", "--seconds", "21600", "song.mod", out},
                                            "song.mod", 4 << 20, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << out << " " << status;
        EXPECT_EQ(dir_entries(dir), (std::vector<std::string>{"old.wav", "song.mod"})) << out;
        EXPECT_EQ(load(dir + "/old.wav"), old_bytes);
    }
    // Started under nohup, a SIGHUP in the middle of the render changes
    // nothing: the whole WAV arrives.
    int status = run_modrender_in(dir, {"--loop", "--seconds", "60", "song.mod", "hup.wav"}, "song.mod", 2 << 20, 0,
                                  SIGHUP, true);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    struct stat st;
    EXPECT_EQ(stat((dir + "/hup.wav").c_str(), &st) == 0 ? st.st_size : -1, 44 + 60 * 44100 * 4);
    remove((dir + "/hup.wav").c_str());
    // A file-size limit: a failure like any other, and nothing left over.
    status = run_modrender_in(dir, {"--seconds", "20", "song.mod", "old.wav"}, "song.mod", 0, 1 << 20);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_EQ(dir_entries(dir), (std::vector<std::string>{"old.wav", "song.mod"}));
    EXPECT_EQ(load(dir + "/old.wav"), old_bytes);

    // A complete render replaces the old file whole, keeping its mode.
    ASSERT_EQ(chmod((dir + "/old.wav").c_str(), 0640), 0);
    ProcessResult r = run_program(MODRENDER, {"--seconds", "1", "song.mod", "old.wav"}, {},
                                  dir.c_str(), -1, SIGTERM);
    ASSERT_EQ(r.status, 0) << r.err;
    expect_wav_header(load(dir + "/old.wav"), 44100);
    ASSERT_EQ(stat((dir + "/old.wav").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(dir_entries(dir), (std::vector<std::string>{"old.wav", "song.mod"}));
    remove_tree(dir);
}

TEST(ModRender, ClosedStdoutHelpOptionsAndControlCharacters) {
    const std::string dir = make_temp_dir("modrender_args");
    ModBuilder b;
    modbuilder_busy_song(&b);
    modbuilder_set_title(&b, "bad\x1b[2Jtitle\x07\x9b");
    memcpy(b.samples[0].name, "\x1b]0;owned\x07", 10);
    const std::vector<uint8_t> module = modbuilder_build(&b);
    ASSERT_TRUE(write_whole_file(dir + "/-song.mod", module));

    // With standard output closed the listing must not land in the WAV
    // (which would otherwise get descriptor 1).
    ProcessResult r = run_program("/bin/sh", {"-c", "exec \"$0\" \"$@\" >&-", MODRENDER,
                                              "--seconds", "1", "--", "-song.mod", "out.wav"},
                                  {}, dir.c_str(), -1, SIGTERM);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<uint8_t> wav = load(dir + "/out.wav");
    expect_wav_header(wav, 44100);
    ModPlayer *player = mod_player_create(44100, module.data(), static_cast<long>(module.size()));
    ASSERT_NE(player, nullptr);
    std::vector<int16_t> expected(2 * 44100);
    mod_player_render_s16(player, expected.data(), 44100);
    mod_player_destroy(player);
    ASSERT_EQ(wav.size(), WAV_HEADER + 4 * 44100);
    EXPECT_EQ(memcmp(&wav[WAV_HEADER], expected.data(), 4 * 44100), 0);

    // Control characters of the title and the sample names are shown as
    // '?'; "--" lets a file name start with '-'.
    r = run_program(MODRENDER, {"--seconds", "0.0000227", "--", "-song.mod", "-one.wav"}, {},
                    dir.c_str(), -1, SIGTERM);
    ASSERT_EQ(r.status, 0) << r.err;
    expect_wav_header(load(dir + "/-one.wav"), 1);
    EXPECT_NE(r.out.find("Title:    bad?[2Jtitle??\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("?]0;owned?"), std::string::npos) << r.out;
    for (char c : r.out) {
        const unsigned char byte = static_cast<unsigned char>(c);
        EXPECT_TRUE(c == '\n' || (byte >= ' ' && byte <= '~')) << static_cast<int>(byte);
    }

    // --help: usage on standard output, status 0, and no file named after it.
    r = run_program(MODRENDER, {"--help"}, {}, dir.c_str(), -1, SIGTERM);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("usage: modrender ", 0), 0u) << r.out;
    EXPECT_EQ(r.err, "");
    r = run_program(MODRENDER, {"-song.mod", "--help.wav"}, {}, dir.c_str(), -1, SIGTERM);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(dir_entries(dir), (std::vector<std::string>{"-one.wav", "-song.mod", "out.wav"}));
    remove_tree(dir);
}
