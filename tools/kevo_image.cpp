// Converts a PNG or PCX picture into a PCX file in the engine's palette,
// what a demo maker commits, and shows how the engine will draw it.
//
//   kevo-image IN [OUT.pcx] [--dither none|ordered|diffusion] [--raw] [--key N]
//              [--metric cielab|oklab|rgb] [--preview OUT.png]
//
// IN is read by its content (PNG or PCX, never by its name); its colours
// take the engine's nearest (assets/image.h), with the dithering asked for
// (none by default: stable in motion). --raw keeps the file's indices
// whatever its palette; --key N gives the index of pixels below half
// opacity (default 0, black); --metric chooses how nearness is measured
// (default cielab; the others are there to compare). OUT.pcx is written
// with pcx_save and the engine's palette, so it loads back to the same
// indices; --preview OUT.png writes the same picture as an 8-bit PNG with
// the engine's palette, to look at. At least one of the two is needed. "--"
// ends the options, for file names that start with '-'.
//
// Prints one line on standard output: the input's size and kind and what
// was written. Each output replaces a file of its name only once it is
// whole: one that cannot be written leaves that file as it was. An output
// that is IN itself (by any name: links, other spellings) is refused.
// Exit status 0 when every file asked for was written, and for --help;
// otherwise one line on standard error and status 2 for arguments it
// cannot take (an output that is IN among them), 1 for an input that
// cannot be read or an output that cannot be written.
#include <cstdio>
#include <cstring>

#include "assets/image.h"
#include "assets/pcx.h"
#include "gfx2d/palette.h"
#include "gfx2d/palette_map.h"
#include "platform/exit_signals.h"  // ignore_file_size_signal
#include "platform/program_args.h"  // USAGE_ERROR_STATUS, parse_long
#include "util/file_replace.h"

static const char USAGE[] =
    "usage: kevo-image IN [OUT.pcx] [--dither none|ordered|diffusion] [--raw] [--key N]\n"
    "                  [--metric cielab|oklab|rgb] [--preview OUT.png]\n"
    "Converts a PNG or PCX picture into a PCX file in the engine's palette; --preview writes\n"
    "the picture as the engine shows it, as a PNG. At least one output is needed.\n"
    "  --dither MODE    none (default, stable in motion), ordered (8x8 Bayer) or diffusion\n"
    "                   (Floyd-Steinberg), for stills\n"
    "  --raw            keep the file's indices whatever its palette (index data)\n"
    "  --key N          index of pixels below half opacity (0 .. 255, default 0: black)\n"
    "  --metric SPACE   how nearness is measured: cielab (default), oklab or rgb\n"
    "  --preview FILE   also write the picture as shown, as an 8-bit PNG\n";

// One "kevo-image: ..." line about the arguments; the usage status.
static int usage_error(const char *what, const char *value) {
    fprintf(stderr, "kevo-image: %s '%s' (kevo-image --help shows the usage)\n", what, value);
    return USAGE_ERROR_STATUS;
}

struct Request {
    const char *input = nullptr;
    const char *output = nullptr;
    const char *preview = nullptr;
    ImageOptions options = IMAGE_OPTIONS_DEFAULT;
    PaletteMetric metric = PALETTE_METRIC_DEFAULT;
};

// Reads the command line into `request`: -1 when it was all taken, else
// the status to end with (usage error).
static int read_arguments(int argc, char **argv, Request *request) {
    bool options_ended = false;
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (!options_ended && strcmp(arg, "--") == 0) {
            options_ended = true;
        } else if (!options_ended && strcmp(arg, "--raw") == 0) {
            request->options.raw = true;
        } else if (!options_ended && (strcmp(arg, "--dither") == 0 || strcmp(arg, "--metric") == 0 ||
                                      strcmp(arg, "--key") == 0 || strcmp(arg, "--preview") == 0)) {
            if (!has_value) return usage_error("a value is missing after", arg);
            const char *value = argv[++i];
            if (strcmp(arg, "--dither") == 0) {
                if (strcmp(value, "none") == 0) request->options.dither = PALETTE_DITHER_NONE;
                else if (strcmp(value, "ordered") == 0) request->options.dither = PALETTE_DITHER_ORDERED;
                else if (strcmp(value, "diffusion") == 0) request->options.dither = PALETTE_DITHER_DIFFUSION;
                else return usage_error("no such dithering:", value);
            } else if (strcmp(arg, "--metric") == 0) {
                if (strcmp(value, "oklab") == 0) request->metric = PALETTE_METRIC_OKLAB;
                else if (strcmp(value, "cielab") == 0) request->metric = PALETTE_METRIC_CIELAB;
                else if (strcmp(value, "rgb") == 0) request->metric = PALETTE_METRIC_RGB;
                else return usage_error("no such metric:", value);
            } else if (strcmp(arg, "--key") == 0) {
                long key = 0;
                if (parse_long(value, 0, 255, &key) < 0) return usage_error("the key index must be 0 .. 255, not", value);
                request->options.key_index = static_cast<uint8_t>(key);
            } else {
                request->preview = value;
            }
        } else if (!options_ended && arg_is_option(arg)) {
            return usage_error("no such option:", arg);
        } else if (request->input == nullptr) {
            request->input = arg;
        } else if (request->output == nullptr) {
            request->output = arg;
        } else {
            return usage_error("one argument too many:", arg);
        }
    }
    if (request->input == nullptr) {
        fprintf(stderr, "kevo-image: no input picture (kevo-image --help shows the usage)\n");
        return USAGE_ERROR_STATUS;
    }
    if (request->output == nullptr && request->preview == nullptr)
        return usage_error("no output: give OUT.pcx or --preview OUT.png for", request->input);
    const char *const outputs[] = {request->output, request->preview};
    for (const char *out : outputs)
        if (out != nullptr && file_same(out, request->input)) {
            fprintf(stderr, "kevo-image: '%s' is the input picture '%s': not overwriting it\n", out, request->input);
            return USAGE_ERROR_STATUS;
        }
    return -1;
}

int main(int argc, char **argv) {
    ignore_file_size_signal();
    if (args_answer_help(argc, argv, USAGE)) return 0;
    Request request;
    const int status = read_arguments(argc, argv, &request);
    if (status >= 0) return status;

    static PaletteMap map;
    if (request.metric != PALETTE_METRIC_DEFAULT) {
        palette_map_build(&map, request.metric);
        request.options.map = &map;
    }
    ImageWhy why;
    ImagePixels *image = image_read(request.input, &why);
    if (image == nullptr) {
        fprintf(stderr, "kevo-image: cannot read '%s': %s\n", request.input, why.text);
        return 1;
    }
    Texture *texture = image_to_texture(image, &request.options, &why);
    if (texture == nullptr) {
        fprintf(stderr, "kevo-image: cannot convert '%s': %s\n", request.input, why.text);
        image_pixels_free(image);
        return 1;
    }
    char kind[64];
    if (image->palette_colors > 0)
        snprintf(kind, sizeof kind, "%d colour%s%s", image->palette_colors, image->palette_colors == 1 ? "" : "s",
                 image->alpha ? " with transparency" : "");
    else
        snprintf(kind, sizeof kind, "true colour%s", image->alpha ? " with transparency" : "");
    image_pixels_free(image);

    int result = 0;
    if (request.output != nullptr) {
        uint8_t palette[PCX_PALETTE_BYTES];
        for (int i = 0; i < 256; i++)
            for (int c = 0; c < 3; c++) palette[3 * i + c] = static_cast<uint8_t>(Palette[i] >> (24 - 8 * c));
        if (pcx_save(request.output, texture->width, texture->height, texture->pixels, palette) < 0) result = 1;
    }
    if (result == 0 && request.preview != nullptr &&
        image_save_png(request.preview, texture->width, texture->height, texture->pixels) < 0)
        result = 1;
    if (result == 0)
        printf("%s: %d x %d, %s -> %s%s%s\n", request.input, texture->width, texture->height, kind,
               request.output != nullptr ? request.output : "", request.output && request.preview ? ", " : "",
               request.preview != nullptr ? request.preview : "");
    texture_destroy(texture);
    return result;
}
