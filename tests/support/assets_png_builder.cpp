// PNG files through libpng's writer, into memory.
#include "support/assets_png_builder.h"

#include <png.h>

#include <csetjmp>
#include <cstring>

namespace {

void append(png_structp png, png_bytep data, png_size_t size) {
    auto *out = static_cast<std::vector<uint8_t> *>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + size);
}

void flush(png_structp) {}

int channels_of(int color_type) {
    switch (color_type) {
    case PNG_COLOR_TYPE_RGB: return 3;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
    default: return 1;
    }
}

// One row packed as the file stores it: samples of bit_depth bits, most
// significant first; 16-bit samples big-endian.
std::vector<uint8_t> pack_row(const PngSpec &spec, int y) {
    const int per_pixel = channels_of(spec.color_type);
    const int values = spec.width * per_pixel;
    std::vector<uint8_t> row(static_cast<size_t>((values * spec.bit_depth + 7) / 8), 0);
    for (int i = 0; i < values; i++) {
        const uint16_t sample = spec.samples[static_cast<size_t>(y) * values + i];
        if (spec.bit_depth == 16) {
            row[2 * i] = static_cast<uint8_t>(sample >> 8);
            row[2 * i + 1] = static_cast<uint8_t>(sample);
        } else {
            const int bit = i * spec.bit_depth;
            row[bit / 8] = static_cast<uint8_t>(row[bit / 8] | sample << (8 - spec.bit_depth - bit % 8));
        }
    }
    return row;
}

bool write(const PngSpec &spec, std::vector<uint8_t> *out, std::vector<std::vector<uint8_t>> *rows) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, append, flush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(spec.width), static_cast<png_uint_32>(spec.height),
                 spec.bit_depth, spec.color_type, spec.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> colors;
    for (size_t i = 0; i + 2 < spec.palette.size(); i += 3)
        colors.push_back({spec.palette[i], spec.palette[i + 1], spec.palette[i + 2]});
    if (!colors.empty()) png_set_PLTE(png, info, colors.data(), static_cast<int>(colors.size()));
    png_color_16 key;
    memset(&key, 0, sizeof key);
    if (spec.key.size() == 1) key.gray = spec.key[0];
    if (spec.key.size() == 3) key.red = spec.key[0], key.green = spec.key[1], key.blue = spec.key[2];
    if (!spec.trns.empty() || !spec.key.empty())
        png_set_tRNS(png, info, spec.trns.empty() ? nullptr : const_cast<png_bytep>(spec.trns.data()),
                     static_cast<int>(spec.trns.size()), spec.key.empty() ? nullptr : &key);
    if (spec.gamma > 0) png_set_gAMA(png, info, spec.gamma);
    png_write_info(png, info);
    std::vector<png_bytep> pointers;
    for (auto &row : *rows) pointers.push_back(row.data());
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

// The PNG chunk CRC: CRC-32 (reflected polynomial 0xEDB88320), bit by bit.
uint32_t crc_of(const uint8_t *data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; i++) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; bit++) crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return crc ^ 0xFFFFFFFFu;
}

}  // namespace

std::vector<uint8_t> png_build(const PngSpec &spec) {
    std::vector<std::vector<uint8_t>> rows;
    for (int y = 0; y < spec.height; y++) rows.push_back(pack_row(spec, y));
    std::vector<uint8_t> out;
    if (!write(spec, &out, &rows)) out.clear();
    return out;
}

std::vector<uint8_t> png_break_crc(std::vector<uint8_t> bytes, const char *type) {
    size_t at = 8;
    while (at + 12 <= bytes.size()) {
        const size_t length = static_cast<size_t>(bytes[at]) << 24 | bytes[at + 1] << 16 | bytes[at + 2] << 8 |
                              bytes[at + 3];
        if (memcmp(&bytes[at + 4], type, 4) == 0 && at + 12 + length <= bytes.size()) {
            const uint32_t crc = crc_of(&bytes[at + 4], length + 4) ^ 0x5A5A5A5Au;
            for (int k = 0; k < 4; k++) bytes[at + 8 + length + k] = static_cast<uint8_t>(crc >> (24 - 8 * k));
            break;
        }
        at += 12 + length;
    }
    return bytes;
}

std::vector<uint8_t> png_with_trailing_data(const PngSpec &spec, size_t extra_bytes) {
    std::vector<uint8_t> out = png_build(spec);
    constexpr size_t HEAD_BYTES = 8 + 25;  // the signature and IHDR
    if (out.size() < HEAD_BYTES) return {};
    out.resize(HEAD_BYTES);
    // zlib's header (deflate, 32 KiB window, no dictionary), then a stored
    // block, not the last: 3 header bits, padding, LEN and its complement.
    std::vector<uint8_t> data = {0x78, 0x01, 0x00};
    const size_t rows = static_cast<size_t>(spec.height) * (spec.width + 1);
    for (uint16_t v : {static_cast<uint16_t>(rows), static_cast<uint16_t>(~rows)})
        data.insert(data.end(), {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)});
    for (int y = 0; y < spec.height; y++) {
        data.push_back(0);  // no filter
        for (int x = 0; x < spec.width; x++) data.push_back(static_cast<uint8_t>(spec.samples[y * spec.width + x]));
    }
    // The fixed-Huffman block, bits from the lowest up: BFINAL 0, BTYPE 01,
    // then length code 285 (258 bytes: 11000101, its bits first to last)
    // and distance code 0 (one back: 00000) again and again.
    uint32_t bits = 0;
    int count = 0;
    auto put = [&](uint32_t value, int n) {
        for (int i = 0; i < n; i++) {
            bits |= ((value >> i) & 1u) << count;
            if (++count == 8) data.push_back(static_cast<uint8_t>(bits)), bits = 0, count = 0;
        }
    };
    put(0b010, 3);
    const size_t end = data.size() + extra_bytes;
    while (data.size() < end) {
        put(0b10100011, 8);  // 11000101 from its last bit to its first
        put(0, 5);
    }
    data.resize(end);
    // One IDAT chunk, with its CRC, and the file ends.
    data.insert(data.begin(), {'I', 'D', 'A', 'T'});
    const size_t length = data.size() - 4;
    for (int k = 0; k < 4; k++) out.push_back(static_cast<uint8_t>(length >> (24 - 8 * k)));
    out.insert(out.end(), data.begin(), data.end());
    const uint32_t crc = crc_of(data.data(), data.size());
    for (int k = 0; k < 4; k++) out.push_back(static_cast<uint8_t>(crc >> (24 - 8 * k)));
    return out;
}
