# Run by cpack once the packages are built (CPACK_POST_BUILD_SCRIPTS). CPack
# gives a package with libraries in /usr/lib a postinst and a postrm that
# call ldconfig; the library package registers its libraries through the
# ldconfig trigger instead (dist/triggers), as Debian's own tools build such
# packages, so the two scripts come out of it again.
find_program(TARNFLASH_DPKG_DEB dpkg-deb)
if(NOT TARNFLASH_DPKG_DEB)
  message(WARNING "dpkg-deb not found: ${CPACK_TARNFLASH_LIBRARY_PACKAGE} keeps CPack's ldconfig scripts")
  return()
endif()
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(name "${deb}" NAME)
  get_filename_component(folder "${deb}" DIRECTORY)
  if(NOT name MATCHES "^${CPACK_TARNFLASH_LIBRARY_PACKAGE}_.*\\.deb$")
    continue()
  endif()
  set(tree "${folder}/${CPACK_TARNFLASH_LIBRARY_PACKAGE}-repack")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND ${TARNFLASH_DPKG_DEB} --raw-extract "${deb}" "${tree}"
                  RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "dpkg-deb --raw-extract ${deb}: ${err}")
  endif()
  file(REMOVE "${tree}/DEBIAN/postinst" "${tree}/DEBIAN/postrm")
  execute_process(COMMAND ${TARNFLASH_DPKG_DEB} --root-owner-group --build "${tree}" "${deb}"
                  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "dpkg-deb --build ${deb}: ${err}")
  endif()
  file(REMOVE_RECURSE "${tree}")
endforeach()
