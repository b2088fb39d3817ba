// Containers and text utilities: the folder's front page.
//
//   alloc.h       the engine's allocation calls and the test failure hook
//   vector.h      Vector: growable array of untyped pointers
//   hashmap.h     HashMap: chained SipHash table keyed by byte strings
//   siphash.h     SipHash-2-4, the map's keyed hash
//   list.h        List: doubly linked list addressed by position
//   bytebuffer.h  ByteBuffer: growable byte array used as a string builder
//   utf8.h        UTF-8 walking, measuring, decoding and encoding
//   bit_rows.h    packing rows of 1-bit pixels, in either bit order
//   file_open.h   opening input files only when they are regular files
//   file_replace.h  writing output files through a temporary file, renamed
//                 into place when whole
//   std_fds.h     keeping descriptors 0-2 open on /dev/null
//
// Shared habits: plain records with public fields and free functions on
// them; no container owns the items it stores; failures are results only
// (null, or -1), never printed; a failed growth returns -1 and leaves the
// container exactly as it was and usable. Every allocation goes through
// alloc.h, so a test can make any growth fail.
#ifndef UTIL_UTIL_H
#define UTIL_UTIL_H

#include "util/alloc.h"
#include "util/bit_rows.h"
#include "util/bytebuffer.h"
#include "util/file_open.h"
#include "util/file_replace.h"
#include "util/hashmap.h"
#include "util/list.h"
#include "util/siphash.h"
#include "util/std_fds.h"
#include "util/utf8.h"
#include "util/vector.h"

#endif
