# The libraries others build on: the four protocol libraries and libFiles.
#
#   tarnflash_public_library(TARGET [HEADERS header...])
#
# gives the library a SONAME with the major version of its interface
# (libKVBLLIB.so.1, real file libKVBLLIB.so.1.0.0), installs the shared object
# with the runtime libraries (component `libraries`, Debian package libkvbl1)
# and its unversioned link and headers (include/kvbl/) with the development
# files (component `development`, libkvbl-dev), and adds the target to the
# exported set that find_package(KVBL) imports as KVBL::TARGET.
function(tarnflash_public_library target)
  cmake_parse_arguments(arg "" "" "HEADERS" ${ARGN})
  set_target_properties(${target} PROPERTIES
    VERSION ${TARNFLASH_LIBRARY_VERSION}
    SOVERSION ${TARNFLASH_LIBRARY_SOVERSION})
  target_include_directories(${target} INTERFACE
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  install(TARGETS ${target} EXPORT KVBLTargets
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
                  COMPONENT libraries NAMELINK_COMPONENT development)
  if(arg_HEADERS)
    install(FILES ${arg_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kvbl
            COMPONENT development)
  endif()
endfunction()
