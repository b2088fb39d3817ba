# The layering, read from the sources: every file of src/<COMPONENT>/
# includes engine headers only from its own folder and from the folders of
# the libraries it links (ALLOWED, a ;-list of folder names). The link
# check beside it cannot see a header-only include that runs upwards. Nor
# may the folder's own files include each other in a circle (below).
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

# No circle inside the folder either. A file's module is its name without
# the extension and without "_internal" (x.h, x_internal.h and x.cpp are
# one module); a module uses another when one of its files includes one of
# the other's headers. The uses must run one way: a circle (a.cpp includes
# b.h and b.cpp includes a.h, or longer) fails, named in order.
function(module_of file out)
  get_filename_component(name "${file}" NAME_WE)
  string(REGEX REPLACE "_internal$" "" name "${name}")
  set(${out} ${name} PARENT_SCOPE)
endfunction()

set(modules "")
foreach(file ${files})
  module_of("${file}" from)
  list(APPEND modules ${from})
  file(STRINGS "${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"${COMPONENT}/")
  foreach(line ${includes})
    string(REGEX REPLACE "^[^\"]*\"${COMPONENT}/([a-z0-9_]+)\\.h\".*$" "\\1" header "${line}")
    module_of("${header}" to)
    if(NOT to STREQUAL from)
      list(APPEND uses_${from} ${to})
    endif()
  endforeach()
endforeach()
list(REMOVE_DUPLICATES modules)

# Depth-first: a module met again while it is still on the path closes a
# circle.
set(circles "")
function(visit module path)
  if(module IN_LIST path)
    list(FIND path ${module} at)
    list(SUBLIST path ${at} -1 circle)
    list(APPEND circle ${module})
    string(JOIN " -> " shown ${circle})
    set(circles ${circles} "${shown}" PARENT_SCOPE)
    return()
  endif()
  if(module IN_LIST done)
    return()
  endif()
  list(APPEND path ${module})
  foreach(next ${uses_${module}})
    visit(${next} "${path}")
    set(circles ${circles} PARENT_SCOPE)
  endforeach()
  set(done ${done} ${module} PARENT_SCOPE)
endfunction()

set(done "")
foreach(module ${modules})
  visit(${module} "")
endforeach()
if(circles)
  list(REMOVE_DUPLICATES circles)
  string(JOIN "\n  " shown ${circles})
  message(FATAL_ERROR "${COMPONENT}'s files include each other in a circle:\n  ${shown}")
endif()
