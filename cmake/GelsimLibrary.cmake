# gelsim_add_library(NAME SOURCES ... [PUBLIC deps...] [PRIVATE deps...])
#
# Compiles the sources once, as position-independent objects, and makes two libraries of
# them: NAME (static; what the game, tests and benchmarks link) and NAME_shared (the same
# code as a shared library with a SONAME, libNAME.so.<major>.<minor>). PUBLIC names other
# libraries made by this function (the shared variant links their shared variants) or
# imported targets; PRIVATE lists imported targets used only inside.
#
# -fno-semantic-interposition: a shared library's own functions may still be inlined and
# called directly inside it, as in the executable-only build, so the position-independent
# objects cost the static library nothing.
#
# The static library lists the libraries that the C++ compiler's driver adds by itself and
# a C driver does not (libstdc++ and libm with g++), so a program linked by a C compiler,
# as in a project that enables only C and uses the C interface, still gets them. They are
# link items of the static library only: the shared one records them as its own NEEDED.
#
# The shared library's RUNPATH is $ORIGIN once installed: the libraries it needs lie beside
# it, so it loads from any prefix without LD_LIBRARY_PATH, even when the linker (with
# --as-needed) left them out of the program's own NEEDED entries.
set(GELSIM_CXX_RUNTIME_LIBS ${CMAKE_CXX_IMPLICIT_LINK_LIBRARIES})
if(GELSIM_CXX_RUNTIME_LIBS AND CMAKE_C_IMPLICIT_LINK_LIBRARIES)
  list(REMOVE_ITEM GELSIM_CXX_RUNTIME_LIBS ${CMAKE_C_IMPLICIT_LINK_LIBRARIES})
endif()
list(REMOVE_DUPLICATES GELSIM_CXX_RUNTIME_LIBS)
function(gelsim_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC;PRIVATE" ${ARGN})
  add_library(${name}_objects OBJECT ${ARG_SOURCES})
  set_target_properties(${name}_objects PROPERTIES POSITION_INDEPENDENT_CODE ON)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" OR CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    target_compile_options(${name}_objects PRIVATE -fno-semantic-interposition)
  endif()
  target_include_directories(${name}_objects PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>)
  target_link_libraries(${name}_objects PUBLIC ${ARG_PUBLIC} PRIVATE ${ARG_PRIVATE})

  set(shared_public)
  foreach(dep IN LISTS ARG_PUBLIC)
    if(TARGET ${dep}_shared)
      list(APPEND shared_public ${dep}_shared)
    else()
      list(APPEND shared_public ${dep})
    endif()
  endforeach()

  add_library(${name} STATIC $<TARGET_OBJECTS:${name}_objects>)
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC} PRIVATE ${ARG_PRIVATE} ${GELSIM_CXX_RUNTIME_LIBS})

  add_library(${name}_shared SHARED $<TARGET_OBJECTS:${name}_objects>)
  target_link_libraries(${name}_shared PUBLIC ${shared_public} PRIVATE ${ARG_PRIVATE})
  # Every symbol resolved at link time (sanitizer runtimes live in executables only).
  if(NOT GELSIM_SANITIZE AND NOT GELSIM_FUZZ)
    target_link_options(${name}_shared PRIVATE -Wl,--no-undefined)
  endif()
  set_target_properties(${name}_shared PROPERTIES
    OUTPUT_NAME ${name}
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}
    INSTALL_RPATH "$ORIGIN")

  foreach(t ${name} ${name}_shared)
    target_include_directories(${t} PUBLIC
      $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
      $<INSTALL_INTERFACE:${GELSIM_INSTALL_INCLUDEDIR}>)
  endforeach()
endfunction()
