// The mean colour error between two pictures of one size, as CIEDE2000
// (the CIE's 2000 colour difference, in the formulation of Sharma, Wu and
// Dalal): how far a picture shown through the engine's palette is from the
// file's true one. Reads binary PPM (P6, 8 bits); prints the mean and the
// share of pixels whose difference is above 10.
//
//   image_error TRUE.ppm SHOWN.ppm
//
// Status 0; 1 with one "image_error: ..." line when a file cannot be read
// or the sizes differ; 2 for wrong arguments.
#include <cmath>
#include <cstdio>
#include <vector>

#include "platform/program_args.h"

static const char USAGE[] = "usage: image_error TRUE.ppm SHOWN.ppm\n"
                            "Prints the mean CIEDE2000 difference of two pictures of one size.\n";

struct Picture {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;
};

static bool read_ppm(const char *path, Picture *picture) {
    FILE *file = fopen(path, "rb");
    if (file == nullptr) return false;
    int max_value = 0;
    const bool header = fscanf(file, "P6 %d %d %d", &picture->width, &picture->height, &max_value) == 3 &&
                        fgetc(file) != EOF && max_value == 255 && picture->width > 0 && picture->height > 0 &&
                        picture->width <= 65536 && picture->height <= 65536;
    if (header) picture->rgb.resize(static_cast<size_t>(picture->width) * picture->height * 3);
    const bool ok = header && fread(picture->rgb.data(), 1, picture->rgb.size(), file) == picture->rgb.size();
    fclose(file);
    return ok;
}

static double linear(double v) {
    v /= 255.0;
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

static double lab_f(double t) { return t > 216.0 / 24389.0 ? std::cbrt(t) : (24389.0 / 27.0 * t + 16.0) / 116.0; }

static void lab(const unsigned char *rgb, double out[3]) {
    const double r = linear(rgb[0]), g = linear(rgb[1]), b = linear(rgb[2]);
    const double x = (0.4124564 * r + 0.3575761 * g + 0.1804375 * b) / 0.95047;
    const double y = 0.2126729 * r + 0.7151522 * g + 0.0721750 * b;
    const double z = (0.0193339 * r + 0.1191920 * g + 0.9503041 * b) / 1.08883;
    out[0] = 116.0 * lab_f(y) - 16.0;
    out[1] = 500.0 * (lab_f(x) - lab_f(y));
    out[2] = 200.0 * (lab_f(y) - lab_f(z));
}

static double degrees(double radians) { return radians * 180.0 / M_PI; }
static double radians(double degrees) { return degrees * M_PI / 180.0; }

// CIEDE2000 with kL = kC = kH = 1.
static double ciede2000(const double *lab1, const double *lab2) {
    const double c1 = std::hypot(lab1[1], lab1[2]), c2 = std::hypot(lab2[1], lab2[2]);
    const double c_mean = (c1 + c2) / 2.0;
    const double c7 = std::pow(c_mean, 7.0);
    const double g = 0.5 * (1.0 - std::sqrt(c7 / (c7 + std::pow(25.0, 7.0))));
    const double a1 = (1.0 + g) * lab1[1], a2 = (1.0 + g) * lab2[1];
    const double cp1 = std::hypot(a1, lab1[2]), cp2 = std::hypot(a2, lab2[2]);
    double h1 = cp1 == 0 ? 0 : degrees(std::atan2(lab1[2], a1));
    double h2 = cp2 == 0 ? 0 : degrees(std::atan2(lab2[2], a2));
    if (h1 < 0) h1 += 360.0;
    if (h2 < 0) h2 += 360.0;
    const double dl = lab2[0] - lab1[0], dc = cp2 - cp1;
    double dh = 0;
    if (cp1 * cp2 != 0) {
        dh = h2 - h1;
        if (dh > 180.0) dh -= 360.0;
        else if (dh < -180.0) dh += 360.0;
    }
    const double dH = 2.0 * std::sqrt(cp1 * cp2) * std::sin(radians(dh / 2.0));
    const double l_mean = (lab1[0] + lab2[0]) / 2.0, cp_mean = (cp1 + cp2) / 2.0;
    double h_mean = h1 + h2;
    if (cp1 * cp2 != 0) {
        if (std::fabs(h1 - h2) <= 180.0) h_mean = (h1 + h2) / 2.0;
        else h_mean = h1 + h2 < 360.0 ? (h1 + h2 + 360.0) / 2.0 : (h1 + h2 - 360.0) / 2.0;
    }
    const double t = 1.0 - 0.17 * std::cos(radians(h_mean - 30.0)) + 0.24 * std::cos(radians(2.0 * h_mean)) +
                     0.32 * std::cos(radians(3.0 * h_mean + 6.0)) - 0.20 * std::cos(radians(4.0 * h_mean - 63.0));
    const double d_theta = 30.0 * std::exp(-std::pow((h_mean - 275.0) / 25.0, 2.0));
    const double cp7 = std::pow(cp_mean, 7.0);
    const double rc = 2.0 * std::sqrt(cp7 / (cp7 + std::pow(25.0, 7.0)));
    const double sl = 1.0 + 0.015 * std::pow(l_mean - 50.0, 2.0) / std::sqrt(20.0 + std::pow(l_mean - 50.0, 2.0));
    const double sc = 1.0 + 0.045 * cp_mean, sh = 1.0 + 0.015 * cp_mean * t;
    const double rt = -std::sin(radians(2.0 * d_theta)) * rc;
    return std::sqrt(std::pow(dl / sl, 2.0) + std::pow(dc / sc, 2.0) + std::pow(dH / sh, 2.0) +
                     rt * (dc / sc) * (dH / sh));
}

int main(int argc, char **argv) {
    if (args_answer_help(argc, argv, USAGE)) return 0;
    if (!args_expect_plain(argc, argv, 2, 2, USAGE)) return USAGE_ERROR_STATUS;
    Picture truth, shown;
    if (!read_ppm(argv[1], &truth) || !read_ppm(argv[2], &shown)) {
        fprintf(stderr, "image_error: cannot read '%s' or '%s' as an 8-bit binary PPM\n", argv[1], argv[2]);
        return 1;
    }
    if (truth.width != shown.width || truth.height != shown.height) {
        fprintf(stderr, "image_error: the pictures differ in size\n");
        return 1;
    }
    const size_t count = static_cast<size_t>(truth.width) * truth.height;
    double sum = 0;
    size_t far = 0;
    for (size_t i = 0; i < count; i++) {
        double a[3], b[3];
        lab(&truth.rgb[3 * i], a);
        lab(&shown.rgb[3 * i], b);
        const double d = ciede2000(a, b);
        sum += d;
        far += d > 10.0;
    }
    printf("%.4f %.4f\n", sum / static_cast<double>(count), static_cast<double>(far) / static_cast<double>(count));
    return 0;
}
