# The libraries the engine links, found the same way by this project and by the installed CMake
# package (as the imported targets the engine's libraries name in their link interface).
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
foreach(dependency "SDL2;sdl2" "PNG;libpng" "JPEG;libjpeg" "VORBIS;ogg;vorbis;vorbisfile"
                   "THEORA;theora;ogg" "FREETYPE;freetype2;fontconfig" "MPG123;libmpg123")
  list(POP_FRONT dependency prefix)
  if(NOT TARGET PkgConfig::${prefix})
    pkg_check_modules(${prefix} REQUIRED IMPORTED_TARGET ${dependency})
  endif()
endforeach()
# Movie files through GStreamer (the ENGINE_GSTREAMER option): the graph's GStreamer source links
# these too.
if(ENGINE_GSTREAMER AND NOT TARGET PkgConfig::GSTREAMER)
  pkg_check_modules(GSTREAMER REQUIRED IMPORTED_TARGET gstreamer-1.0 gstreamer-app-1.0
                    gstreamer-video-1.0)
endif()
