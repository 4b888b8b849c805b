# `cmake --build build --target docs`: an HTML reference of the installed headers, made by
# doxygen in build/docs/html. Not part of the default build. The headers are staged by
# installing only their component, so the reference shows exactly what a user gets.
find_program(DOXYGEN_EXECUTABLE doxygen)
if(DOXYGEN_EXECUTABLE)
  set(GELSIM_DOCS_STAGE ${PROJECT_BINARY_DIR}/docs/stage)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/Doxyfile.in ${PROJECT_BINARY_DIR}/docs/Doxyfile @ONLY)
  add_custom_target(docs
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${GELSIM_DOCS_STAGE} ${PROJECT_BINARY_DIR}/docs/html
    COMMAND ${CMAKE_COMMAND} --install ${PROJECT_BINARY_DIR} --prefix ${GELSIM_DOCS_STAGE}
            --component gelsim_headers
    COMMAND ${DOXYGEN_EXECUTABLE} ${PROJECT_BINARY_DIR}/docs/Doxyfile
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/docs
    COMMENT "API reference of the installed headers: ${PROJECT_BINARY_DIR}/docs/html/index.html"
    VERBATIM)
endif()
