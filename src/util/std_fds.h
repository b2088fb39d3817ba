// Keeping standard input, output and error open.
//
// A program started with one of descriptors 0-2 closed would hand that
// number to the next file it opens, and then its listing or its rate line
// would be written into that file (a WAV being rendered, an audio capture).
// Every program calls this first thing in main.
#ifndef UTIL_STD_FDS_H
#define UTIL_STD_FDS_H

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed. Returns
// 0, or -1 when one could not be reopened (the program should then stop).
int keep_standard_fds_open(void);

#endif
