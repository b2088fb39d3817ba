// A capture as a GIF, through giflib: the engine's palette is the global
// colour table, so every frame is exact; the first frame is whole, each
// later one the rectangle that changed since the frame before (1 x 1 when
// none did, so that its delay still counts), each pixel scale x scale; the
// delays alternate between 1 and 2 hundredths so that frame k starts within
// half a hundredth of k x 17 ms; a NETSCAPE2.0 block loops it forever.
//
// The bytes go to the temporary file NAME.part-* through a buffer of our
// own, and after each frame the count of bytes that hold whole frames is
// kept, so that a stop signal can cut the file there, end it with the
// trailer and put it in place.
#include <fcntl.h>
#include <gif_lib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "gfx2d/framebuffer.h"
#include "gfx2d/palette.h"
#include "platform/capture_internal.h"
#include "platform/engine_clock.h"
#include "platform/exit_signals.h"
#include "platform/failure_line.h"

constexpr int GIF_COLORS = 256;
constexpr int GIF_COLOR_BITS = 8;
constexpr int GIF_OUTPUT_BYTES = 1 << 16;
constexpr GifByteType GIF_TRAILER = 0x3B;
constexpr int FRAME_PIXELS = SCREEN_WIDTH_PX * SCREEN_HEIGHT_PX;

// Frame k's delay in hundredths of a second: the whole hundredths to the
// start of frame k + 1 less those to frame k, each rounded (17 ms is 1.7).
static int frame_delay(long k) {
    const long per_frame = static_cast<long>(FRAME_PERIOD_MS);  // in tenths of a hundredth
    return static_cast<int>((per_frame * (k + 1) + 5) / 10 - (per_frame * k + 5) / 10);
}

// Writes all of `bytes` to the GIF file; false (errno kept in the state)
// when it cannot.
static bool write_to_file(const GifByteType *bytes, size_t count) {
    while (count > 0) {
        const ssize_t n = write(capture_state.gif_fd, bytes, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            capture_state.gif_write_errno = n < 0 ? errno : EIO;
            return false;
        }
        bytes += n;
        count -= static_cast<size_t>(n);
        capture_state.gif_written += n;
    }
    return true;
}

static GifByteType output[GIF_OUTPUT_BYTES];
static size_t output_used;

static bool flush_output(void) {
    const bool written = capture_state.gif_write_errno == 0 && write_to_file(output, output_used);
    output_used = 0;
    return written;
}

// giflib's output: into the buffer, which goes to the file when full.
static int gif_output(GifFileType *, const GifByteType *bytes, int count) {
    for (int done = 0; done < count;) {
        if (output_used == sizeof output && !flush_output()) return 0;
        size_t n = sizeof output - output_used;
        if (n > static_cast<size_t>(count - done)) n = static_cast<size_t>(count - done);
        memcpy(output + output_used, bytes + done, n);
        output_used += n;
        done += static_cast<int>(n);
    }
    return count;
}

// After a giflib call failed: one line naming the GIF and why, then exit.
[[noreturn]] static void gif_failed(void) {
    if (capture_state.gif_write_errno != 0)
        capture_fail("cannot write '%s': %s", capture_state.output, strerror(capture_state.gif_write_errno));
    const int error = capture_state.gif_file ? capture_state.gif_file->Error : 0;
    const char *reason = GifErrorString(error);
    capture_fail("giflib could not write '%s': %s", capture_state.output, reason ? reason : "unknown error");
}

// Checks the name, makes the temporary file and writes the GIF's start (the
// palette as its colour table, the loop). No sound: -1.
static int gif_start(const char *target) {
    snprintf(capture_state.output, sizeof capture_state.output, "%s", target);
    struct stat st;
    if (stat(capture_state.output, &st) == 0 && S_ISDIR(st.st_mode))
        capture_fail("'%s' is a folder; the GIF needs a file name", target);
    capture_state.gif_fd = capture_make_temp_file("part", capture_state.gif_temp, sizeof capture_state.gif_temp);
    if (capture_state.gif_fd < 0) capture_fail("cannot write '%s': %s", target, strerror(errno));

    int error = 0;
    capture_state.gif_file = EGifOpen(nullptr, gif_output, &error);
    if (!capture_state.gif_file) {
        const char *reason = GifErrorString(error);
        capture_fail("giflib could not write '%s': %s", target, reason ? reason : "unknown error");
    }
    GifFileType *gif = capture_state.gif_file;
    // Graphic control blocks and the loop need GIF89a.
    EGifSetGifVersion(gif, true);
    GifColorType colors[GIF_COLORS];
    for (int i = 0; i < GIF_COLORS; i++) {
        colors[i].Red = static_cast<GifByteType>(Palette[i] >> 24);
        colors[i].Green = static_cast<GifByteType>(Palette[i] >> 16);
        colors[i].Blue = static_cast<GifByteType>(Palette[i] >> 8);
    }
    ColorMapObject *map = GifMakeMapObject(GIF_COLORS, colors);
    if (!map) capture_fail("cannot write '%s': %s", target, strerror(ENOMEM));
    const int k = capture_state.scale;
    const int screen = EGifPutScreenDesc(gif, SCREEN_WIDTH_PX * k, SCREEN_HEIGHT_PX * k, GIF_COLOR_BITS, 0, map);
    GifFreeMapObject(map);
    if (screen == GIF_ERROR) gif_failed();
    // NETSCAPE2.0, sub-block 1: the loop count, 0 for ever.
    static const GifByteType APPLICATION[] = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
    static const GifByteType LOOP[] = {1, 0, 0};
    if (EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE) == GIF_ERROR ||
        EGifPutExtensionBlock(gif, sizeof APPLICATION, APPLICATION) == GIF_ERROR ||
        EGifPutExtensionBlock(gif, sizeof LOOP, LOOP) == GIF_ERROR || EGifPutExtensionTrailer(gif) == GIF_ERROR ||
        !flush_output())
        gif_failed();
    capture_state.gif_kept_bytes = capture_state.gif_written;
    return -1;
}

// The framebuffer as a 400 x 240 picture of indices: one that a program
// resized is cut or padded with black (index 0), as for a video.
static void current_frame(GifByteType *frame) {
    for (int y = 0; y < SCREEN_HEIGHT_PX; y++)
        for (int x = 0; x < SCREEN_WIDTH_PX; x++)
            frame[x + y * SCREEN_WIDTH_PX] =
                x < fb_width && y < fb_height ? fb_pixels[x + y * fb_width] : PALETTE_BLACK;
}

// The smallest rectangle holding every pixel where `now` differs from
// `before`, as x0, y0 and its size in pixels; 1 x 1 at 0, 0 when none does.
static void changed_rectangle(const GifByteType *before, const GifByteType *now, int *x0, int *y0, int *w, int *h) {
    int left = SCREEN_WIDTH_PX, right = -1, top = SCREEN_HEIGHT_PX, bottom = -1;
    for (int y = 0; y < SCREEN_HEIGHT_PX; y++) {
        const GifByteType *a = before + y * SCREEN_WIDTH_PX, *b = now + y * SCREEN_WIDTH_PX;
        if (memcmp(a, b, SCREEN_WIDTH_PX) == 0) continue;
        if (top > y) top = y;
        bottom = y;
        int x = 0;
        while (a[x] == b[x]) x++;
        if (left > x) left = x;
        x = SCREEN_WIDTH_PX - 1;
        while (a[x] == b[x]) x--;
        if (right < x) right = x;
    }
    if (bottom < 0) {
        *x0 = *y0 = 0;
        *w = *h = 1;
        return;
    }
    *x0 = left;
    *y0 = top;
    *w = right - left + 1;
    *h = bottom - top + 1;
}

static void gif_frame(long frame_number) {
    static GifByteType previous[FRAME_PIXELS], frame[FRAME_PIXELS];
    static GifPixelType line[SCREEN_WIDTH_PX * CAPTURE_MAX_SCALE];
    GifFileType *gif = capture_state.gif_file;
    current_frame(frame);
    int x0 = 0, y0 = 0, w = SCREEN_WIDTH_PX, h = SCREEN_HEIGHT_PX;
    if (frame_number > 0) changed_rectangle(previous, frame, &x0, &y0, &w, &h);
    memcpy(previous, frame, sizeof frame);

    // Each frame stays under the next, which covers only what changed.
    GraphicsControlBlock control = {};
    control.DisposalMode = DISPOSE_DO_NOT;
    control.UserInputFlag = false;
    control.DelayTime = frame_delay(frame_number);
    control.TransparentColor = NO_TRANSPARENT_COLOR;
    GifByteType extension[4];
    const size_t extension_bytes = EGifGCBToExtension(&control, extension);
    const int k = capture_state.scale;
    if (EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(extension_bytes), extension) == GIF_ERROR ||
        EGifPutImageDesc(gif, x0 * k, y0 * k, w * k, h * k, false, nullptr) == GIF_ERROR)
        gif_failed();
    for (int y = y0; y < y0 + h; y++) {
        const GifByteType *row = frame + y * SCREEN_WIDTH_PX + x0;
        GifPixelType *out = line;
        for (int x = 0; x < w; x++)
            for (int i = 0; i < k; i++) *out++ = row[x];
        for (int i = 0; i < k; i++)
            if (EGifPutLine(gif, line, w * k) == GIF_ERROR) gif_failed();
    }
    if (!flush_output()) gif_failed();
    capture_state.gif_kept_bytes = capture_state.gif_written;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    capture_state.gif_frames_kept = frame_number + 1;
}

// Ends the GIF and puts it in place.
static int gif_finish(void) {
    if (capture_state.gif_frames_kept == 0) {
        failure_line("CAPTURE", "no GIF made: '%s' would have had no frame", capture_state.output);
        return -1;
    }
    // giflib writes the trailer and frees its writer; a write that fails
    // there is seen in the state.
    int error = 0;
    const int closed = EGifCloseFile(capture_state.gif_file, &error);
    capture_state.gif_file = nullptr;
    const bool flushed = flush_output();
    if (closed == GIF_ERROR || !flushed) {
        if (capture_state.gif_write_errno != 0) {
            failure_line("CAPTURE", "cannot write '%s': %s", capture_state.output,
                         strerror(capture_state.gif_write_errno));
        } else {
            const char *reason = GifErrorString(error);
            failure_line("CAPTURE", "giflib could not finish '%s': %s", capture_state.output,
                         reason ? reason : "unknown error");
        }
        return -1;
    }
    // The GIF is in place and the capture finished, together: a stop
    // signal sees either the frames kept or the whole GIF.
    sigset_t old;
    exit_signals_block(&old);
    const bool placed = rename(capture_state.gif_temp, capture_state.output) == 0;
    const int rename_errno = errno;
    if (placed) {
        capture_state.phase = CAPTURE_FINISHED;
        capture_state.gif_temp[0] = '\0';
    }
    exit_signals_restore_mask(&old);
    if (placed) {
        close(capture_state.gif_fd);
        capture_state.gif_fd = -1;
    } else {
        failure_line("CAPTURE", "cannot put the GIF in place as '%s': %s", capture_state.output,
                     strerror(rename_errno));
        return -1;
    }
    return 0;
}

// The frames complete in the temporary file, with a trailer, put in place
// as the GIF; without any, the file goes.
static bool gif_keep(void) {
    const int fd = capture_state.gif_fd;
    if (fd < 0 || !capture_state.gif_temp[0]) return false;
    const off_t kept = static_cast<off_t>(capture_state.gif_kept_bytes);
    const bool whole = capture_state.gif_frames_kept > 0 && ftruncate(fd, kept) == 0 &&
                       pwrite(fd, &GIF_TRAILER, 1, kept) == 1 &&
                       rename(capture_state.gif_temp, capture_state.output) == 0;
    if (!whole) unlink(capture_state.gif_temp);
    capture_state.gif_temp[0] = '\0';
    return whole;
}

static void gif_drop(void) {
    if (capture_state.gif_temp[0]) unlink(capture_state.gif_temp);
    capture_state.gif_temp[0] = '\0';
}

const CaptureWriter capture_gif_writer = {"GIF", gif_start, gif_frame, gif_finish, gif_keep, gif_drop};
