// The platform's start: the one moment a program's run is decided, by
// whichever comes first of the window's opening (video_init), the music's
// start (music_start_with) and the sound's opening (audio_open). A file-size
// limit then makes writes fail instead of ending the program (SIGXFSZ
// ignored), and a capture asked for (KEVO_CAPTURE) starts: the engine runs
// on its virtual clock, SDL on its dummy video and audio drivers, the
// capture's clock takes the sound and its hook records every frame shown.
#ifndef PLATFORM_PLATFORM_START_H
#define PLATFORM_PLATFORM_START_H

// Does the above the first time; later calls do nothing. Exits with status
// 1 after one "CAPTURE: ..." line when the capture's settings are bad or its
// output cannot be written (capture_start).
void platform_start(void);

#endif
