# Installation and the Debian package.
#
# `cmake --install` lays out: bin/ tarnflash and kv32sim; lib/ the protocol
# libraries and libFiles (found through the RPATH $ORIGIN/../lib); the device
# catalogue in share/tarnflash/Map/; the manual page; the bash completion; the
# documentation. The programs and libraries are installed by the folders that
# build them; everything else is installed here. `cpack` (scripts/package)
# turns the same tree into a .deb.

set(TARNFLASH_DIST_DIR ${CMAKE_SOURCE_DIR}/dist)

# The device catalogue, where the program and the simulator look for it when
# the working folder has no Map/.
if(EXISTS ${CMAKE_SOURCE_DIR}/Map)
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/Map/
          DESTINATION ${CMAKE_INSTALL_DATADIR}/tarnflash/Map
          FILES_MATCHING PATTERN "*.KVmap")
endif()

# The manual page is written from the program's own help text at build time,
# so the two always agree. The plain page lands in the build tree's share/man
# (`man -l build/share/man/man1/tarnflash.1`); the installed one is gzipped.
if(TARGET tarnflash)
  set(TARNFLASH_MAN_PAGE ${CMAKE_BINARY_DIR}/share/man/man1/tarnflash.1)
  set(TARNFLASH_MAN_PAGE_GZ ${CMAKE_BINARY_DIR}/dist/tarnflash.1.gz)
  add_custom_command(
    OUTPUT ${TARNFLASH_MAN_PAGE} ${TARNFLASH_MAN_PAGE_GZ}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/share/man/man1
            ${CMAKE_BINARY_DIR}/dist
    # A sanitizer build of the program must not fail the page over a leak report.
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
            sh ${TARNFLASH_DIST_DIR}/make-manpage $<TARGET_FILE:tarnflash>
            ${TARNFLASH_DIST_DIR}/tarnflash.1.in ${PROJECT_VERSION} ${TARNFLASH_MAN_PAGE}
    COMMAND sh -c "gzip -9n -c \"$1\" > \"$2\"" sh ${TARNFLASH_MAN_PAGE} ${TARNFLASH_MAN_PAGE_GZ}
    DEPENDS tarnflash ${TARNFLASH_DIST_DIR}/make-manpage ${TARNFLASH_DIST_DIR}/tarnflash.1.in
    COMMENT "Writing the tarnflash manual page from its help text"
    VERBATIM)
  add_custom_target(tarnflash_manpage ALL DEPENDS ${TARNFLASH_MAN_PAGE} ${TARNFLASH_MAN_PAGE_GZ})
  install(FILES ${TARNFLASH_MAN_PAGE_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# Bash completion, found by bash-completion under the name of the program.
install(FILES ${TARNFLASH_DIST_DIR}/tarnflash.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME tarnflash)

# The user documentation.
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
if(EXISTS ${CMAKE_SOURCE_DIR}/docs)
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}
          FILES_MATCHING PATTERN "*.md")
endif()

# ---------------------------------------------------------------------------
# The Debian package: one package with the programmer, its libraries, the
# catalogue and the simulated chip.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnflash)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "tarnflash developers")
set(CPACK_PACKAGE_CONTACT "tarnflash developers <tarnflash@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "in-system programmer for KV32 microcontrollers")
# The long description under the summary line; CPack indents it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"tarnflash erases, programs, verifies and reads back the flash of KV32
microcontrollers through their factory ROM bootloader, over a UART, USB DFU,
or an I2C, SPI or CAN bridge on a serial port. It also reads and writes the
option bytes, switches protection, writes OTP data and starts the user
program.

The package also holds the protocol libraries, the device catalogue and
kv32sim, a simulated chip on a pseudo-terminal to try tarnflash without a
board.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# The dependencies: worked out from the binaries by dpkg-shlibdeps when it is
# there (dpkg-dev), else the libraries the programs link, as Debian 12 names
# them.
find_program(TARNFLASH_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TARNFLASH_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_INSTALL_LIBDIR})
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 12), libqt5core5a (>= 5.15.1), libusb-1.0-0 (>= 2:1.0.16)")
endif()
include(CPack)
