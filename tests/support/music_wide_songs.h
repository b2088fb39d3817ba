// Songs of many channels in each format the player reads, for the tests of
// what sits above the player (listings, the music start-up, sync, seeking,
// capture): every channel plays notes, in patterns of unusual row counts,
// from instruments of one or several samples of 8 and 16 bits. The same
// bytes for the same arguments.
#ifndef SUPPORT_MUSIC_WIDE_SONGS_H
#define SUPPORT_MUSIC_WIDE_SONGS_H

#include <cstdint>
#include <vector>

// An XM of `channels` channels (1 .. 32), linear frequencies, speed 3 and
// tempo 125: orders 0 1 2 1 3 over patterns of 16, 1, 130 and 256 rows.
// Row 0 of pattern 0 starts a note on every channel; after that each row
// starts one on channel (row + pattern) % channels. Instrument 1 plays
// sample 1 (8-bit, forward loop) for every note; instrument 2 plays sample
// 2 (8-bit, no loop) below C-4 and sample 3 (16-bit, ping-pong loop) from
// C-4 up. Notes pick the instruments in turn, so both samples of
// instrument 2 sound.
std::vector<uint8_t> wide_xm_song(int channels);

// An S3M of `channels` channels (1 .. 32, left and right in turn), speed 3
// and tempo 125: orders 0 1 0 over two 64-row patterns, the notes placed
// as wide_xm_song places them, instruments 1 (8-bit, looped) and 2
// (16-bit) in turn; with `adlib`, an Adlib instrument 3 that no cell
// names (the player reads it as silent and says so).
std::vector<uint8_t> wide_s3m_song(int channels, bool adlib = false);

// An IT of `channels` channels (1 .. 64), linear slides, speed 3 and tempo
// 125, the message "wide it": orders 0 1 2 1 3 over patterns of 16, 1, 130
// and 200 rows, the notes placed as wide_xm_song places them. Instrument 1
// plays sample 1 (8-bit, compressed, forward loop) with a volume envelope
// that ends at 0 and keeps its notes sounding (note off) when the next
// comes; instrument 2 plays sample 2 (8-bit, no loop) below C-5 and sample
// 3 (16-bit, ping-pong loop) from C-5 up, fading its notes out.
std::vector<uint8_t> wide_it_song(int channels);

// A MOD of `channels` channels (2 .. 32; the "NCHN" or "NNCH" signature):
// orders 0 1 0 over two patterns, the notes placed likewise, samples 1
// (looped) and 2 in turn.
std::vector<uint8_t> wide_mod_song(int channels);

#endif
