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

# A bridge flavour library:
#
#   tarnflash_flavour_library(LIBRARY OBJECTS_TARGET
#     OBJECTS source...   the flavour's transport, also linked into libKVBLLIB
#     SOURCES source...   the standalone library's own exports
#     HEADER header       its installed header
#     [EXPORT_MAP map])   the symbols it exports (else the common interface's)
#
# The library is the flavour objects + the common command layer + the serial
# port, everything hidden but what the map exports.
function(tarnflash_flavour_library library objects)
  cmake_parse_arguments(arg "" "HEADER;EXPORT_MAP" "OBJECTS;SOURCES" ${ARGN})
  add_library(${objects} OBJECT ${arg_OBJECTS})
  target_include_directories(${objects} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${objects} PUBLIC KVBLCommon)
  set_target_properties(${objects} PROPERTIES
    POSITION_INDEPENDENT_CODE ON CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)

  add_library(${library} SHARED ${arg_SOURCES} ${arg_HEADER}
    $<TARGET_OBJECTS:${objects}>
    $<TARGET_OBJECTS:KVBLCommon>
    $<TARGET_OBJECTS:SerialPort>)
  target_include_directories(${library} PUBLIC $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}>
    $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/KVBLCommon>)
  target_include_directories(${library} PRIVATE ${CMAKE_SOURCE_DIR}/SerialPort)
  target_compile_definitions(${library} PRIVATE KVBL_BUILDING_LIBRARY)
  find_package(Threads REQUIRED)
  target_link_libraries(${library} PRIVATE Threads::Threads)
  if(arg_EXPORT_MAP)
    target_link_options(${library} PRIVATE -Wl,--version-script=${arg_EXPORT_MAP})
    set_property(TARGET ${library} APPEND PROPERTY LINK_DEPENDS ${arg_EXPORT_MAP})
  else()
    target_link_libraries(${library} PRIVATE KVBLExports)
  endif()
  set_target_properties(${library} PROPERTIES
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  tarnflash_public_library(${library} HEADERS ${arg_HEADER})
endfunction()
