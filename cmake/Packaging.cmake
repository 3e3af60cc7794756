# The Debian packages (`cpack`, run by scripts/package), one per install
# component of cmake/Install.cmake, split as Debian splits such projects:
#   tarnflash    the programmer, the device catalogue, its manual page and
#                completion, the documentation
#   libkvbl1     the versioned protocol libraries and libFiles
#   libkvbl-dev  headers, the unversioned links, pkg-config and CMake files,
#                the example client
#   kv32sim      the simulated chip and its manual page
# Each carries the machine-readable copyright file and the changelog.
# lintian's verdict on them, warning by warning, is in docs/packaging.md.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnflash)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "tarnflash developers")
# No project address exists yet; a distributor sets its own.
set(TARNFLASH_PACKAGE_MAINTAINER "tarnflash developers <tarnflash@tarnflash.invalid>"
    CACHE STRING "Maintainer field of the Debian packages")
set(CPACK_PACKAGE_CONTACT "${TARNFLASH_PACKAGE_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
# Installed under /usr through DESTDIR, so that the install rules see the
# prefix the packages install to (pkg-config files, the program's search path).
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${TARNFLASH_COMPONENTS})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE tarnflash)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
foreach(component IN LISTS TARNFLASH_COMPONENTS)
  string(TOUPPER ${component} c)
  set(CPACK_DEBIAN_${c}_PACKAGE_NAME ${TARNFLASH_PACKAGE_${component}})
endforeach()

# The library dependencies: worked out from the binaries by dpkg-shlibdeps
# when it is there (dpkg-dev); the project's own libraries are found in the
# build tree and become the dependency on libkvbl1 below.
find_program(TARNFLASH_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TARNFLASH_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
else()
  # As Debian 12 names them.
  set(runtime "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 12)")
  set(CPACK_DEBIAN_PROGRAM_PACKAGE_DEPENDS "${runtime}, libqt5core5a (>= 5.15.1)")
  set(CPACK_DEBIAN_LIBRARIES_PACKAGE_DEPENDS "${runtime}, libusb-1.0-0 (>= 2:1.0.16)")
  set(CPACK_DEBIAN_SIMULATOR_PACKAGE_DEPENDS "${runtime}")
endif()

# tarnflash
set(CPACK_COMPONENT_PROGRAM_DEPENDS libraries)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SUGGESTS "bash-completion, kv32sim")
set(CPACK_COMPONENT_PROGRAM_DESCRIPTION
"in-system programmer for KV32 microcontrollers
tarnflash erases, programs, verifies and reads back the flash of KV32
microcontrollers through their factory ROM bootloader, over a UART, USB DFU,
or an I2C, SPI or CAN bridge on a serial port. It also reads and writes the
option bytes, switches protection, writes OTP data and starts the user
program.
.
The package holds the program, the device catalogue (the memory layouts of
the chips), the manual page and the bash completion.")

# libkvbl1: its shlibs file makes programs built against it depend on
# libkvbl1 (>= this version); the libraries are registered with the dynamic
# linker by its trigger, not by maintainer scripts (which CPack writes for
# every package with libraries in /usr/lib: cmake/DebPostBuild.cmake takes
# them out again).
set(CPACK_DEBIAN_LIBRARIES_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_LIBRARIES_PACKAGE_CONTROL_EXTRA ${TARNFLASH_DIST_DIR}/triggers)
set(CPACK_TARNFLASH_LIBRARY_PACKAGE ${TARNFLASH_PACKAGE_libraries})
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/DebPostBuild.cmake)
set(CPACK_COMPONENT_LIBRARIES_DESCRIPTION
"KV32 bootloader protocol libraries
The libraries that talk to the factory ROM bootloader of KV32
microcontrollers: libKVBLLIB over a UART or USB DFU (and through every
bridge), libKVI2CBLLIB, libKVSPIBLLIB and libKVCANBLLIB through an I2C, SPI
or CAN bridge on a serial port, each exporting the same KVBL_ programming
interface; and libFiles, which reads and writes memory images (binary, Intel
HEX, Motorola S-record) and device maps.")

# libkvbl-dev
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS libraries)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
"KV32 bootloader protocol libraries - development files
Headers (include/kvbl/), the unversioned library links, pkg-config files
(kvbllib, kvi2cbllib, kvspibllib, kvcanbllib, libfiles) and the CMake package
KVBL (find_package(KVBL CONFIG), targets KVBL::KVBLLIB and its kin) for
programs that program KV32 microcontrollers through the KVBL_ interface,
with a short example client.")

# kv32sim
set(CPACK_COMPONENT_SIMULATOR_DEPENDS program)
set(CPACK_DEBIAN_SIMULATOR_PACKAGE_SECTION electronics)
set(CPACK_COMPONENT_SIMULATOR_DESCRIPTION
"simulated KV32 microcontroller on a pseudo-terminal
kv32sim plays a KV32 chip in its factory bootloader, reached over a UART or
through an I2C, SPI or CAN bridge, on a pseudo-terminal: tarnflash and
programs built on the KV32 bootloader protocol libraries can be tried and
tested without a board. It models the flash, the option bytes, protection,
the external SPI flash bank and OTP data, and injects line faults on request.
It takes the chips' identities from the device catalogue of tarnflash.")

include(CPack)
