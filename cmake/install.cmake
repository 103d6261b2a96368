# `cmake --install`: the public headers under include/mubengine/ in their folders, one static
# library per layer, the CMake package mubengine (target mubengine::engine) and mubengine.pc.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(engine_layers platform system files softrender media graphics host)
install(FILES ${PROJECT_SOURCE_DIR}/engine.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/mubengine)
foreach(layer IN LISTS engine_layers)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/${layer}/
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/mubengine/${layer}
          FILES_MATCHING PATTERN "*.h")
endforeach()
list(TRANSFORM engine_layers PREPEND engine_)
install(TARGETS ${engine_layers} engine EXPORT mubengineTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/mubengine)

set(package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/mubengine)
install(EXPORT mubengineTargets NAMESPACE mubengine:: DESTINATION ${package_dir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/mubengineConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/mubengineConfig.cmake
                              INSTALL_DESTINATION ${package_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/mubengineConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/mubengineConfig.cmake
              ${PROJECT_BINARY_DIR}/mubengineConfigVersion.cmake
              ${PROJECT_SOURCE_DIR}/cmake/mubengine_dependencies.cmake
        DESTINATION ${package_dir})

set(CMAKE_DL_LIBS_FLAG "")
if(CMAKE_DL_LIBS)
  set(CMAKE_DL_LIBS_FLAG -l${CMAKE_DL_LIBS})
endif()
set(ENGINE_PC_GSTREAMER "")
if(ENGINE_GSTREAMER)
  set(ENGINE_PC_GSTREAMER " gstreamer-1.0 gstreamer-app-1.0 gstreamer-video-1.0")
endif()
# The .pc file finds the prefix from where it lies, so `cmake --install --prefix` anywhere works.
file(RELATIVE_PATH ENGINE_PC_PREFIX_FROM_PCFILEDIR /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" ENGINE_PC_PREFIX_FROM_PCFILEDIR "${ENGINE_PC_PREFIX_FROM_PCFILEDIR}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/mubengine.pc.in ${PROJECT_BINARY_DIR}/mubengine.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/mubengine.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
