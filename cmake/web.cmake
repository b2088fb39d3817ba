# The browser build, configured through emscripten (make web): the component
# libraries on emscripten's own SDL 1.2 (-sUSE_SDL=1, from its prebuilt
# system library: nothing is downloaded), and every program that shows
# frames (the demo, the examples, the starter) as NAME.js + NAME.wasm +
# NAME.data, the res/ files it reads preloaded. No tests, tools,
# benchmarks or install rules: they are the native build's. The pages
# around the programs come from tools/web/ (make web).
#
# What the browser build goes without is said in src/platform/web.h.

set(ENGINE_TESTS OFF)
set(ENGINE_BENCH OFF)
set(ENGINE_FUZZ OFF)
set(ENGINE_INSTALL OFF)
set(ENGINE_BUILD_PROGRAMS ON)
# Mixing in plain C++: the SSE2 path has no place in WebAssembly; the plain
# loops give the same samples bit for bit (make portable checks that).
set(ENGINE_PORTABLE_MIX ON)

add_library(kevo_web_sdl INTERFACE)
target_compile_options(kevo_web_sdl INTERFACE -sUSE_SDL=1)
target_link_options(kevo_web_sdl INTERFACE -sUSE_SDL=1)
set(KEVO_SDL kevo_web_sdl)
set(KEVO_PNG "")
set(KEVO_EXPAT "")

# libpng, giflib and expat are not in emscripten's prebuilt libraries, nor
# processes in a page: the files that need them give way to their
# *_absent.cpp stand-ins, which say so. What the browser does its own way
# (the canvas, Web Audio, a capture's frames to the page, the sync editor
# through the browser's WebSocket) is in the *_web.cpp files, which take the
# place of the native files named here.
set(KEVO_WEB_LEAVES_OUT image_png_read.cpp image_png_write.cpp screenshot.cpp capture_gif.cpp capture_video.cpp
  sync_rocket.cpp sync_link_tcp.cpp video_window.cpp audio_sink_device.cpp capture_frame_save.cpp)
function(kevo_build_sources list_name)
  set(sources)
  foreach(source ${${list_name}})
    get_filename_component(name ${source} NAME)
    if(NOT name IN_LIST KEVO_WEB_LEAVES_OUT)
      list(APPEND sources ${source})
    endif()
  endforeach()
  set(${list_name} ${sources} PARENT_SCOPE)
endfunction()

# The programs' link: a blocking frame loop that yields to the browser in
# SDL_Delay (ASYNCIFY), memory that grows with what a program loads, the
# runtime's exit handlers run when main returns or exit() is called (a
# capture completes there), and the environment and file system reachable
# from the page (ENV for the settings the page passes, FS for a capture's
# files).
set(KEVO_WEB_LINK_OPTIONS
  -sASYNCIFY -sALLOW_MEMORY_GROWTH=1 -sEXIT_RUNTIME=1 -sENVIRONMENT=web
  -sEXPORTED_RUNTIME_METHODS=['ENV','FS'])

# kevo_web_program(target res_file...): the target's link for the browser,
# with the named files of res/ preloaded at res/ in its file system.
function(kevo_web_program target)
  set(options ${KEVO_WEB_LINK_OPTIONS})
  foreach(file ${ARGN})
    list(APPEND options "SHELL:--preload-file ${CMAKE_CURRENT_SOURCE_DIR}/res/${file}@res/${file}")
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/res/${file})
  endforeach()
  target_link_options(${target} PRIVATE ${options})
endfunction()
