# The layering, read from the sources: every file of src/<COMPONENT>/
# includes engine headers only from its own folder and from the folders of
# the libraries it links (ALLOWED, a ;-list of folder names). The link
# check beside it cannot see a header-only include that runs upwards.
#
#   cmake -DSOURCE_DIR=src -DCOMPONENT=render3d -DALLOWED="render3d;gfx2d;util" -P check_includes.cmake
cmake_minimum_required(VERSION 3.25)

set(folders util music sync gfx2d render3d assets platform)
string(JOIN "|" folder_pattern ${folders})
file(GLOB files "${SOURCE_DIR}/${COMPONENT}/*.h" "${SOURCE_DIR}/${COMPONENT}/*.cpp")
set(bad "")
foreach(file ${files})
  file(STRINGS "${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"(${folder_pattern})/")
  foreach(line ${includes})
    string(REGEX REPLACE "^[^\"]*\"([a-z0-9_]+)/.*$" "\\1" folder "${line}")
    if(NOT folder IN_LIST ALLOWED)
      file(RELATIVE_PATH shown "${SOURCE_DIR}" "${file}")
      list(APPEND bad "${shown}: ${line}")
    endif()
  endforeach()
endforeach()
if(bad)
  string(JOIN "\n  " shown ${bad})
  message(FATAL_ERROR "${COMPONENT} includes above its own layer:\n  ${shown}")
endif()
