# Copies the engine's public headers into the kevo/ folder of an include
# directory, the layout programs built on the engine see (installed or
# through add_subdirectory): src/kevo.h becomes kevo/kevo.h and
# src/<folder>/*.h becomes kevo/<folder>/*.h. The engine's own short include
# paths ("music/song.h") become "kevo/music/song.h", so a consumer needs
# only the include directory itself on its path and no folder name of the
# engine can clash with a consumer's own headers.
#
#   cmake -DSOURCE_DIR=src -DDEST=build/include/kevo -DSTAMP=file -P stage_headers.cmake
#
# A header is rewritten only when its staged text changes, so consumers do
# not rebuild for nothing; staged headers whose source is gone are removed.
cmake_minimum_required(VERSION 3.25)

set(folders util music sync gfx2d render3d assets platform)
string(JOIN "|" folder_pattern ${folders})

set(wanted kevo.h)
foreach(folder ${folders})
  file(GLOB headers RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/${folder}/*.h")
  # Headers only the folder's own sources include stay behind.
  list(FILTER headers EXCLUDE REGEX "_internal\\.h$")
  list(APPEND wanted ${headers})
endforeach()

foreach(header ${wanted})
  file(READ "${SOURCE_DIR}/${header}" text)
  string(REGEX REPLACE "#include \"(${folder_pattern})/" "#include \"kevo/\\1/" text "${text}")
  set(old "")
  if(EXISTS "${DEST}/${header}")
    file(READ "${DEST}/${header}" old)
  endif()
  if(NOT old STREQUAL text)
    file(WRITE "${DEST}/${header}" "${text}")
  endif()
endforeach()

if(EXISTS "${DEST}")
  file(GLOB_RECURSE present RELATIVE "${DEST}" "${DEST}/*")
  foreach(file ${present})
    if(NOT file IN_LIST wanted)
      file(REMOVE "${DEST}/${file}")
    endif()
  endforeach()
endif()

file(TOUCH "${STAMP}")
