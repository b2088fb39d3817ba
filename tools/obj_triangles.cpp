// Loads OBJ models with the engine's loader and tells how many triangles
// each gave: the check of tools/fetch-real-models.sh on real models.
//
//   obj_triangles MODEL.obj...
//
// Prints one line per model on standard output: the triangle count, a tab
// and the path, or "failed", a tab and the path when the model does not
// load (the loader's own line on standard error says why). The loader's
// progress messages are not shown. Exit status 0 when every model loaded,
// 1 when one did not, 2 for a wrong command line.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "assets/obj.h"
#include "platform/program_args.h"
#include "util/std_fds.h"

static const char USAGE[] = "usage: obj_triangles MODEL.obj...\n";

int main(int argc, char **argv) {
    if (keep_standard_fds_open() != 0) return 1;
    if (args_answer_help(argc, argv, USAGE)) return 0;
    bool option = false;
    for (int i = 1; i < argc; i++) option = option || arg_is_option(argv[i]);
    if (argc < 2 || option) {
        fputs(USAGE, stderr);
        return USAGE_ERROR_STATUS;
    }
    // Results go to the real standard output; the loader's messages, which
    // it prints there too, go to /dev/null.
    fflush(stdout);
    int results_fd = dup(1);
    int null_fd = open("/dev/null", O_WRONLY);
    FILE *results = results_fd >= 0 ? fdopen(results_fd, "w") : nullptr;
    if (results == nullptr || null_fd < 0 || dup2(null_fd, 1) < 0) {
        fputs("obj_triangles: cannot set up standard output\n", stderr);
        return 1;
    }
    close(null_fd);
    int status = 0;
    for (int i = 1; i < argc; i++) {
        Mesh *mesh = obj_load(argv[i], 1);
        fflush(stdout);
        if (mesh == nullptr) {
            fprintf(results, "failed\t%s\n", argv[i]);
            status = 1;
        } else {
            fprintf(results, "%d\t%s\n", mesh->list->count, argv[i]);
        }
        mesh_destroy(mesh);
    }
    return fclose(results) == 0 ? status : 1;
}
