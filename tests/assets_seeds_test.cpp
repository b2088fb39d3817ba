// The committed fuzz seeds of the loaders are exactly the hand-made files of
// the test builders. ASSETS_WRITE_SEEDS=1 rewrites them from the builders.
// The PNG seeds (made once with the test's PNG builder and kevo-image; a
// zlib of another version would compress them differently) are checked to
// be pictures the reader takes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <dirent.h>
#include <string>

#include "assets/image.h"

#include "support/assets_disk.h"
#include "support/platform_process.h"
#include "support/assets_obj_builder.h"
#include "support/assets_pcx_builder.h"

namespace {

void check_corpus(const std::string &target, const std::vector<NamedBytes> &seeds) {
    std::string dir = std::string(ENGINE_SOURCE_DIR) + "/fuzz/corpus/" + target;
    const char *write = getenv("ASSETS_WRITE_SEEDS");
    if (write != nullptr && std::string(write) == "1") {
        ASSERT_EQ(run_command("mkdir -p '" + dir + "'"), 0);
        for (const NamedBytes &seed : seeds) ASSERT_TRUE(write_whole_file(dir + "/" + seed.name, seed.bytes));
    }
    for (const NamedBytes &seed : seeds) {
        Bytes committed;
        ASSERT_TRUE(read_whole_file(dir + "/" + seed.name, &committed))
            << "fuzz/corpus/" << target << "/" << seed.name << " missing; run with ASSETS_WRITE_SEEDS=1";
        EXPECT_TRUE(committed == seed.bytes) << "fuzz/corpus/" << target << "/" << seed.name << " is stale";
    }
}

TEST(AssetsSeeds, CommittedFuzzSeedsMatchTheBuilders) {
    check_corpus("assets_pcx_fuzz", pcx_seed_files());
    std::vector<NamedBytes> obj;
    for (const NamedText &text : obj_seed_texts()) obj.push_back({text.name, Bytes(text.text.begin(), text.text.end())});
    check_corpus("assets_obj_fuzz", obj);

    const std::string png_dir = std::string(ENGINE_SOURCE_DIR) + "/fuzz/corpus/assets_png_fuzz";
    DIR *dir = opendir(png_dir.c_str());
    ASSERT_NE(dir, nullptr) << png_dir;
    int seeds = 0;
    while (const dirent *entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        ImageWhy why;
        ImagePixels *image = image_read_png((png_dir + "/" + entry->d_name).c_str(), &why);
        EXPECT_NE(image, nullptr) << entry->d_name << ": " << why.text;
        image_pixels_free(image);
        seeds++;
    }
    closedir(dir);
    EXPECT_GE(seeds, 10);
}

}  // namespace
