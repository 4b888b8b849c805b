# `cmake --build build --target docs`: an HTML reference of the installed headers, made by
# doxygen in build/docs/html, with doxygen's complaints in build/docs/warnings.log (the
# Docs ctest fails on any). Not part of the default build. The headers are staged by
# installing only their component, so the reference shows exactly what a user gets; the C
# header is generated into the stage as the build generates it, and the main page is the
# README's quickstarts, cut out of the README at every build so the two cannot drift.
#
# Run as a script (cmake -DREADME=... -DOUT=... -P GelsimDocs.cmake) it writes that main
# page.
if(CMAKE_SCRIPT_MODE_FILE)
  file(READ "${README}" readme)
  string(FIND "${readme}" "\n## C++ quickstart" first)
  string(FIND "${readme}" "\n## Python quickstart" last)
  if(first EQUAL -1 OR last EQUAL -1)
    message(FATAL_ERROR "${README}: the C++ and Python quickstart sections were not found")
  endif()
  string(SUBSTRING "${readme}" ${last} -1 tail)
  string(SUBSTRING "${tail}" 1 -1 tail)  # past the newline, so the next heading is found
  string(FIND "${tail}" "\n## " next)
  math(EXPR length "${last} + 1 + ${next} - ${first}")
  if(next EQUAL -1)
    string(SUBSTRING "${readme}" ${first} -1 body)
  else()
    string(SUBSTRING "${readme}" ${first} ${length} body)
  endif()
  file(WRITE "${OUT}"
       "# Getting started {#mainpage}\n\n"
       "A two-dimensional soft-body physics library: point masses, springy constraints, "
       "indexed bodies with images, static polygon zones, collision events and a view "
       "transform, for C++ (namespace kin::gelsim), C (gelsim.h) and Python.\n"
       "${body}")
  return()
endif()

find_program(DOXYGEN_EXECUTABLE doxygen)
find_program(GELSIM_DOCS_PYTHON python3 HINTS /usr/bin)  # the filter needs no modules
if(DOXYGEN_EXECUTABLE)
  set(GELSIM_DOCS_STAGE ${PROJECT_BINARY_DIR}/docs/stage)
  set(GELSIM_DOCS_MAINPAGE ${PROJECT_BINARY_DIR}/docs/mainpage.md)
  # Without Python the generated declarations are left to doxygen, which cannot expand them.
  set(GELSIM_DOCS_FILTER "")
  if(GELSIM_DOCS_PYTHON)
    set(GELSIM_DOCS_FILTER "INPUT_FILTER = \"${GELSIM_DOCS_PYTHON} ${PROJECT_SOURCE_DIR}/cmake/docs_expand_rows.py \
${CMAKE_CXX_COMPILER} ${GELSIM_DOCS_STAGE}/${GELSIM_INSTALL_INCLUDEDIR}\"")
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/cmake/Doxyfile.in ${PROJECT_BINARY_DIR}/docs/Doxyfile @ONLY)
  set(_c_header_commands)
  if(TARGET gelsim_cgen)
    set(_c_header_commands
        COMMAND gelsim_cgen ${GELSIM_DOCS_STAGE}/${CMAKE_INSTALL_INCLUDEDIR}/gelsim.h
                ${GELSIM_DOCS_STAGE}/CRows.cpp ${PROJECT_SOURCE_DIR}
        COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/gelsim/capi/gelsim_picture.h
                ${GELSIM_DOCS_STAGE}/${CMAKE_INSTALL_INCLUDEDIR}/)
  endif()
  add_custom_target(docs
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${GELSIM_DOCS_STAGE} ${PROJECT_BINARY_DIR}/docs/html
            ${PROJECT_BINARY_DIR}/docs/warnings.log
    COMMAND ${CMAKE_COMMAND} --install ${PROJECT_BINARY_DIR} --prefix ${GELSIM_DOCS_STAGE}
            --component gelsim_headers
    ${_c_header_commands}
    COMMAND ${CMAKE_COMMAND} -DREADME=${PROJECT_SOURCE_DIR}/README.md -DOUT=${GELSIM_DOCS_MAINPAGE}
            -P ${PROJECT_SOURCE_DIR}/cmake/GelsimDocs.cmake
    COMMAND ${DOXYGEN_EXECUTABLE} ${PROJECT_BINARY_DIR}/docs/Doxyfile
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/docs
    COMMENT "API reference of the installed headers: ${PROJECT_BINARY_DIR}/docs/html/index.html"
    VERBATIM)
endif()
