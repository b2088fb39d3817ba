// Hand-made PCX files for the loader tests and the fuzz seed corpus. Written
// from the published format, apart from the engine's own writer.
#include "support/assets_pcx_builder.h"

#include "util/bit_rows.h"

static void put16(Bytes *bytes, size_t at, int value) {
    (*bytes)[at] = static_cast<uint8_t>(value & 0xFF);
    (*bytes)[at + 1] = static_cast<uint8_t>((value >> 8) & 0xFF);
}

PcxHeaderFields pcx_fields(int bits, int planes, int width, int height) {
    PcxHeaderFields fields;
    fields.bits = bits;
    fields.planes = planes;
    fields.xmax = width - 1;
    fields.ymax = height - 1;
    int bits_per_line = width * bits;
    fields.bytes_per_line = (bits_per_line + 7) / 8;
    return fields;
}

Bytes pcx_header(const PcxHeaderFields &fields) {
    Bytes header(128, 0);
    header[0] = static_cast<uint8_t>(fields.manufacturer);
    header[1] = 5;
    header[2] = static_cast<uint8_t>(fields.encoding);
    header[3] = static_cast<uint8_t>(fields.bits);
    put16(&header, 4, fields.xmin);
    put16(&header, 6, fields.ymin);
    put16(&header, 8, fields.xmax);
    put16(&header, 10, fields.ymax);
    for (int i = 0; i < 48; i++) header[16 + i] = fields.header_palette[i];
    header[65] = static_cast<uint8_t>(fields.planes);
    put16(&header, 66, fields.bytes_per_line);
    header[68] = 1;
    return header;
}

Bytes pcx_encode_line(const Bytes &line) {
    Bytes out;
    size_t x = 0;
    while (x < line.size()) {
        size_t run = 1;
        while (x + run < line.size() && run < 63 && line[x + run] == line[x]) run++;
        if (run > 1 || line[x] >= 0xC0) out.push_back(static_cast<uint8_t>(0xC0 | run));
        out.push_back(line[x]);
        x += run;
    }
    return out;
}

Bytes pcx_ramp_palette() {
    Bytes palette(768);
    for (int i = 0; i < 256; i++) {
        palette[3 * i] = static_cast<uint8_t>(i);
        palette[3 * i + 1] = static_cast<uint8_t>(255 - i);
        palette[3 * i + 2] = static_cast<uint8_t>(i * 7);
    }
    return palette;
}

Bytes pcx_file(const PcxHeaderFields &fields, const Bytes &data, const Bytes &palette) {
    Bytes file = pcx_header(fields);
    file.insert(file.end(), data.begin(), data.end());
    if (!palette.empty()) {
        file.push_back(12);
        file.insert(file.end(), palette.begin(), palette.end());
    }
    return file;
}

// A valid-looking header with `change` applied, followed by a little data.
template <typename Change>
static NamedBytes refused(const char *name, Change change) {
    PcxHeaderFields fields = pcx_fields(8, 1, 4, 2);
    change(fields);
    Bytes file = pcx_header(fields);
    Bytes data = {0xC4, 0x01, 0xC4, 0x02};
    file.insert(file.end(), data.begin(), data.end());
    return {name, file};
}

std::vector<NamedBytes> pcx_refused_files() {
    std::vector<NamedBytes> files;
    Bytes short_header = pcx_header(pcx_fields(8, 1, 4, 2));
    short_header.resize(127);
    files.push_back({"short_header", short_header});
    files.push_back({"empty", Bytes()});
    files.push_back(refused("manufacturer_11", [](PcxHeaderFields &f) { f.manufacturer = 11; }));
    files.push_back(refused("encoding_0", [](PcxHeaderFields &f) { f.encoding = 0; }));
    files.push_back(refused("encoding_2", [](PcxHeaderFields &f) { f.encoding = 2; }));
    files.push_back(refused("width_0", [](PcxHeaderFields &f) { f.xmax = -1; }));
    files.push_back(refused("height_0", [](PcxHeaderFields &f) { f.ymin = 5; f.ymax = 4; }));
    files.push_back(refused("width_negative", [](PcxHeaderFields &f) { f.xmin = 10; f.xmax = 2; }));
    // xmax 32767: the +1 wraps in 16 bits to -32768, a negative width.
    files.push_back(refused("xmax_wraps", [](PcxHeaderFields &f) { f.xmax = 32767; }));
    files.push_back(refused("width_4097", [](PcxHeaderFields &f) { f.xmax = 4096; }));
    files.push_back(refused("height_4097", [](PcxHeaderFields &f) { f.ymax = 4096; }));
    files.push_back(refused("width_65535", [](PcxHeaderFields &f) { f.xmin = -32768; f.xmax = 32766; }));
    for (int bits : {0, 3, 5, 6, 7, 9, 16, 24, 255}) {
        std::string name = "depth_" + std::to_string(bits);
        files.push_back(refused(name.c_str(), [bits](PcxHeaderFields &f) { f.bits = bits; }));
    }
    files.push_back(refused("planes_0", [](PcxHeaderFields &f) { f.bits = 1; f.planes = 0; }));
    files.push_back(refused("planes_9_of_1_bit", [](PcxHeaderFields &f) { f.bits = 1; f.planes = 9; }));
    files.push_back(refused("planes_4_of_8_bits", [](PcxHeaderFields &f) { f.planes = 4; }));
    files.push_back(refused("planes_2_of_4_bits", [](PcxHeaderFields &f) { f.bits = 4; f.planes = 2; }));
    files.push_back(refused("planes_4_of_2_bits", [](PcxHeaderFields &f) { f.bits = 2; f.planes = 4; }));
    return files;
}

// Rows of the small 8-bit image, each encoded by hand to cover the run
// rules: a plain run, values 0xC0 and up written as runs of 1, a lone 0xBF,
// a zero-length run that writes nothing, and literal bytes.
Bytes pcx_small_8bit_file() {
    Bytes data = {
        0xC6, 0x05,                                            // row 0: 5 x 6
        0xC1, 0xC7, 0x01, 0x02, 0xBF, 0xC1, 0xBF, 0xC1, 0xFF,  // row 1
        0xC0, 0x33, 0x09, 0xC5, 0x0A,                          // row 2
        0x00, 0x01, 0x02, 0x03, 0x04, 0x05,                    // row 3
    };
    return pcx_file(pcx_fields(8, 1, 6, 4), data, pcx_ramp_palette());
}

Bytes pcx_small_8bit_pixels() {
    return {5, 5, 5, 5, 5, 5,
            0xC7, 1, 2, 0xBF, 0xBF, 0xFF,
            9, 10, 10, 10, 10, 10,
            0, 1, 2, 3, 4, 5};
}

size_t pcx_small_8bit_data_end() { return 128 + 22; }

static const int planar_width = 10, planar_height = 3, planar_planes = 4;

Bytes pcx_small_planar_pixels() {
    Bytes pixels;
    for (int y = 0; y < planar_height; y++)
        for (int x = 0; x < planar_width; x++) pixels.push_back(static_cast<uint8_t>((x + 3 * y) & 15));
    return pixels;
}

Bytes pcx_small_planar_file() {
    PcxHeaderFields fields = pcx_fields(1, planar_planes, planar_width, planar_height);
    for (int i = 0; i < 16; i++) {
        fields.header_palette[3 * i] = static_cast<uint8_t>(i * 16);
        fields.header_palette[3 * i + 1] = static_cast<uint8_t>(255 - i * 16);
        fields.header_palette[3 * i + 2] = static_cast<uint8_t>(i);
    }
    Bytes pixels = pcx_small_planar_pixels();
    Bytes data;
    for (int y = 0; y < planar_height; y++) {
        for (int p = 0; p < planar_planes; p++) {
            // 10 pixels in 2 bytes; the 6 padding bits are set to 1 so a
            // decoder that does not drop them shows it.
            uint8_t bits[16];
            for (int x = 0; x < 16; x++) bits[x] = x < planar_width ? (pixels[y * planar_width + x] >> p) & 1 : 1;
            Bytes line(2, 0);
            bit_row_pack(bits, 16, BITS_LEFTMOST_HIGH, line.data());
            Bytes encoded = pcx_encode_line(line);
            data.insert(data.end(), encoded.begin(), encoded.end());
        }
    }
    return pcx_file(fields, data, Bytes());
}

std::vector<NamedBytes> pcx_seed_files() {
    std::vector<NamedBytes> files = pcx_refused_files();
    files.push_back({"small_8bit", pcx_small_8bit_file()});
    files.push_back({"small_planar", pcx_small_planar_file()});
    files.push_back({"small_24bit", pcx_small_24bit_file()});
    Bytes truncated = pcx_small_8bit_file();
    truncated.resize(pcx_small_8bit_data_end() - 3);
    files.push_back({"small_8bit_truncated_in_data", truncated});
    truncated = pcx_small_8bit_file();
    truncated.resize(truncated.size() - 100);
    files.push_back({"small_8bit_truncated_in_palette", truncated});
    return files;
}

// 5 x 2 pixels of three planes, each line padded to 6 bytes: plane p of
// pixel (x, y) is (40 * x + 7 * y + 90 * p) mod 256, runs where they occur.
Bytes pcx_small_24bit_pixels() {
    Bytes pixels;
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 5; x++)
            for (int p = 0; p < 3; p++) pixels.push_back(static_cast<uint8_t>((40 * x + 7 * y + 90 * p) % 256));
    return pixels;
}

Bytes pcx_small_24bit_file() {
    PcxHeaderFields fields = pcx_fields(8, 3, 5, 2);
    fields.bytes_per_line = 6;
    Bytes data;
    const Bytes pixels = pcx_small_24bit_pixels();
    for (int y = 0; y < 2; y++)
        for (int p = 0; p < 3; p++) {
            Bytes line;
            for (int x = 0; x < 5; x++) line.push_back(pixels[(y * 5 + x) * 3 + p]);
            line.push_back(0);
            Bytes encoded = pcx_encode_line(line);
            data.insert(data.end(), encoded.begin(), encoded.end());
        }
    return pcx_file(fields, data, {});
}
