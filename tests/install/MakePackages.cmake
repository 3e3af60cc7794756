# Makes the Debian packages of the build tree BUILD_DIR afresh in OUT, as
# scripts/package does. Run by CTest before the tests of the packages.
if(NOT BUILD_DIR OR NOT OUT OR NOT CPACK)
  message(FATAL_ERROR "usage: cmake -DBUILD_DIR=... -DOUT=... -DCPACK=... -P MakePackages.cmake")
endif()
file(REMOVE_RECURSE ${OUT})
execute_process(COMMAND ${CPACK} -G DEB --config ${BUILD_DIR}/CPackConfig.cmake -B ${OUT}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cpack failed (${rc}):\n${out}\n${err}")
endif()
file(GLOB debs ${OUT}/*.deb)
message(STATUS "made ${debs}")
