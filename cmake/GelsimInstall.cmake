# What `cmake --install` puts under the prefix:
#   include/gelsim/{gelsim,platform}/...   the public C++ headers (no detail/ folders)
#   include/gelsim.h                       the C interface (gelsim/capi/CMakeLists.txt)
#   lib/libgelsim{,_runtime,_platform,_picture}.a and .so (with SONAME), libgelsim_c.a and
#   .so, libgelsim_c_picture.a
#   lib/cmake/gelsim/                      the package: find_package(gelsim CONFIG)
#   lib/pkgconfig/gelsim.pc, gelsim-platform.pc   the C++ libraries
#   lib/pkgconfig/gelsim-c.pc              the C interface: include/ for gelsim.h, the
#                                          shared libgelsim_c, or with --static the archives
#                                          and the C++ runtime a C compiler does not add
# The installed shared libraries carry RUNPATH $ORIGIN (cmake/GelsimLibrary.cmake), so they
# find each other wherever the prefix is.
# Everything is relocatable: the package and the .pc files find the prefix from where
# they lie, so the tree may be installed with --prefix anywhere and moved afterwards.
include(CMakePackageConfigHelpers)

set(GELSIM_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/gelsim)

# --- headers. The include root is include/gelsim, so sources keep writing
# "gelsim/core/Physics.h" and "platform/Image.h" without a top-level platform/ folder
# landing in a shared include directory.
foreach(dir gelsim platform)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/${dir}/
          DESTINATION ${GELSIM_INSTALL_INCLUDEDIR}/${dir}
          COMPONENT gelsim_headers
          FILES_MATCHING PATTERN "*.h"
          PATTERN "detail" EXCLUDE
          PATTERN "capi" EXCLUDE)  # the C interface installs its generated gelsim.h itself
endforeach()

# --- libraries. Exported names: gelsim::<lib>_static and gelsim::<lib>_shared; the
# package adds gelsim::gelsim, gelsim::runtime and gelsim::platform pointing at one of them.
set_target_properties(gelsim_runtime PROPERTIES EXPORT_NAME runtime_static)
set_target_properties(gelsim_runtime_shared PROPERTIES EXPORT_NAME runtime_shared)
set_target_properties(gelsim PROPERTIES EXPORT_NAME gelsim_static)
set_target_properties(gelsim_shared PROPERTIES EXPORT_NAME gelsim_shared)
set_target_properties(gelsim_platform PROPERTIES EXPORT_NAME platform_static)
set_target_properties(gelsim_platform_shared PROPERTIES EXPORT_NAME platform_shared)
set_target_properties(gelsim_picture PROPERTIES EXPORT_NAME picture_static)
set_target_properties(gelsim_picture_shared PROPERTIES EXPORT_NAME picture_shared)

install(TARGETS gelsim_runtime gelsim_runtime_shared gelsim gelsim_shared
        EXPORT gelsim-targets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT gelsim_libraries
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT gelsim_libraries NAMELINK_COMPONENT gelsim_libraries)
# The C interface joins the same export set (gelsim::gelsim_c) once its target exists;
# its directory must be added before this file is included.
if(TARGET gelsim_c)
  install(TARGETS gelsim_c gelsim_c_shared EXPORT gelsim-targets
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT gelsim_libraries
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT gelsim_libraries)
endif()
set(_gelsim_platform_libs gelsim_platform gelsim_platform_shared gelsim_picture gelsim_picture_shared)
if(TARGET gelsim_c_picture)
  list(APPEND _gelsim_platform_libs gelsim_c_picture)
endif()
install(TARGETS ${_gelsim_platform_libs}
        EXPORT gelsim-platform-targets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT gelsim_libraries
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT gelsim_libraries NAMELINK_COMPONENT gelsim_libraries)

install(EXPORT gelsim-targets NAMESPACE gelsim:: DESTINATION ${GELSIM_CMAKE_DIR} COMPONENT gelsim_libraries)
install(EXPORT gelsim-platform-targets NAMESPACE gelsim:: DESTINATION ${GELSIM_CMAKE_DIR}
        COMPONENT gelsim_libraries)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/gelsim-config.cmake.in
  ${PROJECT_BINARY_DIR}/gelsim-config.cmake
  INSTALL_DESTINATION ${GELSIM_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/gelsim-config-version.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/gelsim-config.cmake ${PROJECT_BINARY_DIR}/gelsim-config-version.cmake
        DESTINATION ${GELSIM_CMAKE_DIR} COMPONENT gelsim_libraries)

# --- pkg-config. The prefix is found relative to the .pc file (${pcfiledir}).
set(GELSIM_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH GELSIM_PC_TO_PREFIX /root/${GELSIM_PC_DIR} /root)
string(REGEX REPLACE "/$" "" GELSIM_PC_TO_PREFIX "${GELSIM_PC_TO_PREFIX}")
list(TRANSFORM GELSIM_CXX_RUNTIME_LIBS PREPEND -l OUTPUT_VARIABLE GELSIM_PC_CXX_RUNTIME)
list(JOIN GELSIM_PC_CXX_RUNTIME " " GELSIM_PC_CXX_RUNTIME)
set(_gelsim_pcs gelsim gelsim-platform)
if(TARGET gelsim_c)
  list(APPEND _gelsim_pcs gelsim-c)
endif()
foreach(pc ${_gelsim_pcs})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${pc}.pc DESTINATION ${GELSIM_PC_DIR} COMPONENT gelsim_libraries)
endforeach()
