# What `cmake --install` lays out, beside the programs and libraries that
# their folders install:
#
#   bin/                        tarnflash, kv32sim
#   lib/<arch>/                 libKVBLLIB, libKVI2CBLLIB, libKVSPIBLLIB,
#                               libKVCANBLLIB, libFiles: .so.1.0.0, .so.1, .so
#   lib/<arch>/pkgconfig/       kvbllib.pc kvi2cbllib.pc kvspibllib.pc
#                               kvcanbllib.pc libfiles.pc
#   lib/<arch>/cmake/KVBL/      the CMake package KVBL
#   include/kvbl/               the libraries' headers
#   share/tarnflash/Map/        the device catalogue
#   share/man/man1/             tarnflash.1.gz, kv32sim.1.gz
#   share/bash-completion/completions/tarnflash
#   lib/udev/rules.d/           70-tarnflash-kv32-dfu.rules
#   share/doc/<package>/        copyright and changelog.gz of each package;
#                               the documentation (tarnflash), the example
#                               client (libkvbl-dev)
#
# Every piece belongs to one component, and each component becomes one Debian
# package (cmake/Packaging.cmake).

set(TARNFLASH_DIST_DIR ${CMAKE_SOURCE_DIR}/dist)

# Compresses INPUT into OUTPUT as Debian wants it (gzip -9n: no name, no time
# stamp), at build time, under TARGET (built by default).
function(tarnflash_gzip target input output)
  get_filename_component(folder ${output} DIRECTORY)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
    COMMAND sh -c "gzip -9n -c \"$1\" > \"$2\"" sh ${input} ${output}
    DEPENDS ${input}
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${output})
endfunction()

set(TARNFLASH_COMPONENTS program libraries development simulator)
set(TARNFLASH_PACKAGE_program tarnflash)
set(TARNFLASH_PACKAGE_libraries libkvbl${TARNFLASH_LIBRARY_SOVERSION})
set(TARNFLASH_PACKAGE_development libkvbl-dev)
set(TARNFLASH_PACKAGE_simulator kv32sim)

# ---- the program ----------------------------------------------------------
# The device catalogue, where the program and the simulator look for it when
# the working folder has no Map/.
if(EXISTS ${CMAKE_SOURCE_DIR}/Map)
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/Map/
          DESTINATION ${CMAKE_INSTALL_DATADIR}/tarnflash/Map
          COMPONENT program
          FILES_MATCHING PATTERN "*.KVmap")
endif()

# The manual pages land in the build tree's share/man (`man -l
# build/share/man/man1/tarnflash.1`); the installed ones are gzipped.
# tarnflash's is written from the program's own help text at build time, so
# the two always agree.
set(TARNFLASH_MAN_DIR ${CMAKE_BINARY_DIR}/share/man/man1)
if(TARGET tarnflash)
  set(man_page ${TARNFLASH_MAN_DIR}/tarnflash.1)
  add_custom_command(
    OUTPUT ${man_page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${TARNFLASH_MAN_DIR}
    # A sanitizer build of the program must not fail the page over a leak report.
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
            sh ${TARNFLASH_DIST_DIR}/make-manpage $<TARGET_FILE:tarnflash>
            ${TARNFLASH_DIST_DIR}/tarnflash.1.in ${PROJECT_VERSION} ${man_page}
    DEPENDS tarnflash ${TARNFLASH_DIST_DIR}/make-manpage ${TARNFLASH_DIST_DIR}/tarnflash.1.in
    COMMENT "Writing the tarnflash manual page from its help text"
    VERBATIM)
  tarnflash_gzip(tarnflash_manpage ${man_page} ${CMAKE_BINARY_DIR}/dist/tarnflash.1.gz)
  install(FILES ${CMAKE_BINARY_DIR}/dist/tarnflash.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT program)

  # Installed under a prefix whose library folder the dynamic linker searches
  # without being told (/usr, as in the Debian packages), the program needs no
  # search path of its own: drop the $ORIGIN one.
  set(linker_dirs /lib /usr/lib)
  if(CMAKE_LIBRARY_ARCHITECTURE)
    list(APPEND linker_dirs /lib/${CMAKE_LIBRARY_ARCHITECTURE} /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE})
  endif()
  install(CODE "
    set(linker_dirs \"${linker_dirs}\")
    get_filename_component(libdir \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}\" ABSOLUTE)
    list(FIND linker_dirs \"\${libdir}\" searched)
    if(searched GREATER -1)
      file(RPATH_REMOVE FILE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/tarnflash\")
    endif()" COMPONENT program)
endif()

# Bash completion, found by bash-completion under the name of the program.
install(FILES ${TARNFLASH_DIST_DIR}/tarnflash.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME tarnflash COMPONENT program)

# The udev rule that lets the logged-in user open KV32 chips in DFU mode.
install(FILES ${TARNFLASH_DIST_DIR}/70-tarnflash-kv32-dfu.rules DESTINATION lib/udev/rules.d
        COMPONENT program)

# The user documentation; the simulator's goes with the simulator.
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT program)
if(EXISTS ${CMAKE_SOURCE_DIR}/docs)
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}
          COMPONENT program FILES_MATCHING PATTERN "*.md" PATTERN "simulator.md" EXCLUDE)
  install(FILES ${CMAKE_SOURCE_DIR}/docs/simulator.md
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${TARNFLASH_PACKAGE_simulator}
          COMPONENT simulator)
endif()

# ---- the simulator --------------------------------------------------------
if(TARGET kv32sim)
  configure_file(${TARNFLASH_DIST_DIR}/kv32sim.1.in ${TARNFLASH_MAN_DIR}/kv32sim.1 @ONLY)
  tarnflash_gzip(kv32sim_manpage ${TARNFLASH_MAN_DIR}/kv32sim.1 ${CMAKE_BINARY_DIR}/dist/kv32sim.1.gz)
  install(FILES ${CMAKE_BINARY_DIR}/dist/kv32sim.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT simulator)
endif()

# ---- the development files ------------------------------------------------
# pkg-config files, written at install time: they name the prefix the tree
# is installed under (cmake/WritePkgConfig.cmake).
set(pc_files)
foreach(entry
    "kvbllib|KVBLLIB|KV32 bootloader protocol over a UART or USB DFU, and through the I2C, SPI and CAN bridges"
    "kvi2cbllib|KVI2CBLLIB|KV32 bootloader protocol through an I2C bridge on a serial port"
    "kvspibllib|KVSPIBLLIB|KV32 bootloader protocol through an SPI bridge on a serial port"
    "kvcanbllib|KVCANBLLIB|KV32 bootloader protocol through a CAN bridge on a serial port"
    "libfiles|Files|Memory images (binary, Intel HEX, Motorola S-record) and KV32 device maps")
  string(REPLACE "|" ";" fields "${entry}")
  list(GET fields 1 library)
  if(TARGET ${library})
    list(APPEND pc_files "${entry}")
  endif()
endforeach()
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/dist/pkgconfig)
install(CODE "
  set(PC_WORK_DIR \"${CMAKE_BINARY_DIR}/dist/pkgconfig\")
  set(PC_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(PC_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(PC_VERSION \"${PROJECT_VERSION}\")
  set(PC_FILES \"${pc_files}\")
  include(\"${CMAKE_SOURCE_DIR}/cmake/WritePkgConfig.cmake\")" COMPONENT development)

# The CMake package: find_package(KVBL CONFIG) imports KVBL::<library>.
include(CMakePackageConfigHelpers)
set(kvbl_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/KVBL)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/dist/KVBLConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(EXPORT KVBLTargets NAMESPACE KVBL:: DESTINATION ${kvbl_cmake_dir}
        COMPONENT development)
install(FILES ${TARNFLASH_DIST_DIR}/KVBLConfig.cmake ${CMAKE_BINARY_DIR}/dist/KVBLConfigVersion.cmake
        DESTINATION ${kvbl_cmake_dir} COMPONENT development)

# The example client, for reading and for copying.
install(FILES ${CMAKE_SOURCE_DIR}/examples/kvbl-read.c ${CMAKE_SOURCE_DIR}/examples/CMakeLists.txt
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${TARNFLASH_PACKAGE_development}/examples
        COMPONENT development)

# ---- every package --------------------------------------------------------
# The licence and the changelog. The changelog's newest entry is the version
# of this tree: a new version needs its entry first.
file(STRINGS ${TARNFLASH_DIST_DIR}/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^tarnflash \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "dist/changelog: the newest entry is not version ${PROJECT_VERSION}: "
                      "${changelog_head}")
endif()
tarnflash_gzip(tarnflash_changelog ${TARNFLASH_DIST_DIR}/changelog ${CMAKE_BINARY_DIR}/dist/changelog.gz)
foreach(component IN LISTS TARNFLASH_COMPONENTS)
  install(FILES ${TARNFLASH_DIST_DIR}/copyright ${CMAKE_BINARY_DIR}/dist/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${TARNFLASH_PACKAGE_${component}}
          COMPONENT ${component})
endforeach()
