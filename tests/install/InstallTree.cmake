# Installs the build tree BUILD_DIR into PREFIX afresh, as a user would with
# `cmake --install`. Run by CTest before the tests of the installed tree.
if(NOT BUILD_DIR OR NOT PREFIX)
  message(FATAL_ERROR "usage: cmake -DBUILD_DIR=... -DPREFIX=... -P InstallTree.cmake")
endif()
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${rc}):\n${out}\n${err}")
endif()
message(STATUS "installed into ${PREFIX}")
