# Run by `cmake --install` (and cpack): writes the pkg-config files with the
# prefix the tree is being installed under, then installs them. Set by the
# install rule of cmake/Install.cmake:
#   PC_WORK_DIR  a folder of the build tree to write them in
#   PC_LIBDIR, PC_INCLUDEDIR  relative to the prefix
#   PC_VERSION   the package version
#   PC_FILES     entries "name|library|description"
foreach(entry IN LISTS PC_FILES)
  string(REPLACE "|" ";" fields "${entry}")
  list(GET fields 0 name)
  list(GET fields 1 library)
  list(GET fields 2 description)
  file(WRITE "${PC_WORK_DIR}/${name}.pc"
"prefix=${CMAKE_INSTALL_PREFIX}
libdir=\${prefix}/${PC_LIBDIR}
includedir=\${prefix}/${PC_INCLUDEDIR}

Name: ${name}
Description: ${description}
Version: ${PC_VERSION}
License: MIT
Cflags: -I\${includedir}
Libs: -L\${libdir} -l${library}
")
  file(INSTALL "${PC_WORK_DIR}/${name}.pc" DESTINATION "${CMAKE_INSTALL_PREFIX}/${PC_LIBDIR}/pkgconfig")
endforeach()
