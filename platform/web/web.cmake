# The browser build, included by the top-level CMakeLists.txt under emcc.
#   NUVEL_WEB_DEPS  a folder with include/ and lib/ of libpng and zlib built
#                   with emcc (tools/build-web.sh makes it)
#   NUVEL_WEB_GAME  the data set, as the desktop build's generator wrote it
#   NUVEL_WEB_MUSIC the list of the pieces rendered for the page (music.txt)
#   NUVEL_WEB_STAMP a file touched whenever those change, so the page relinks
set(NUVEL_WEB_DEPS "" CACHE PATH "libpng and zlib built for the browser")
set(NUVEL_WEB_GAME "" CACHE PATH "the data set to pack into the page")
set(NUVEL_WEB_MUSIC "" CACHE FILEPATH "the list of rendered music pieces")
set(NUVEL_WEB_STAMP "" CACHE FILEPATH "changes when the data set or the music does")

# The desktop layer's files that know no window system, and the page's own.
file(GLOB NUVEL_WEB_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/web/*.cpp)
add_library(nuvelplatform STATIC
  ${CMAKE_SOURCE_DIR}/platform/queue.cpp ${CMAKE_SOURCE_DIR}/platform/clock.cpp
  ${CMAKE_SOURCE_DIR}/platform/files.cpp ${CMAKE_SOURCE_DIR}/platform/mixer.cpp
  ${CMAKE_SOURCE_DIR}/platform/scaling.cpp ${NUVEL_WEB_SOURCES})
target_include_directories(nuvelplatform PUBLIC ${CMAKE_SOURCE_DIR})

add_library(PNG::PNG STATIC IMPORTED)
set_target_properties(PNG::PNG PROPERTIES
  IMPORTED_LOCATION ${NUVEL_WEB_DEPS}/lib/libpng.a
  INTERFACE_INCLUDE_DIRECTORIES ${NUVEL_WEB_DEPS}/include
  INTERFACE_LINK_LIBRARIES ${NUVEL_WEB_DEPS}/lib/libz.a)

# The game's loops block (each wait pumps messages until its time comes):
# ASYNCIFY lets them, by setting the call stack aside at every sleep and
# resuming it when the page wakes it (see library.js).
function(nuvel_web_page target)
  set(library ${CMAKE_SOURCE_DIR}/platform/web/library.js)
  set_target_properties(${target} PROPERTIES SUFFIX .js)
  target_link_options(${target} PRIVATE
    -sASYNCIFY -sASYNCIFY_IMPORTS=[web_sleep] -sASYNCIFY_STACK_SIZE=131072
    -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=67108864
    -sINVOKE_RUN=0 -sENVIRONMENT=web -sFORCE_FILESYSTEM=1 -lidbfs.js
    -sEXPORTED_FUNCTIONS=[_main]
    -sEXPORTED_RUNTIME_METHODS=[FS,callMain]
    "SHELL:--js-library ${library}"
    "SHELL:--preload-file ${NUVEL_WEB_GAME}@/game"
    "SHELL:--preload-file ${NUVEL_WEB_MUSIC}@/web/music.txt")
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${library} ${NUVEL_WEB_STAMP})
endfunction()
