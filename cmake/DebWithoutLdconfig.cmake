# Run by CPack after the Debian package is made (CPACK_POST_BUILD_SCRIPTS).
# CPack writes a postinst and a postrm that call ldconfig for any library
# below /usr/lib, the private folder of libkelpra.so included, which the
# dynamic linker never searches. The package is rebuilt without them; its
# files and their sums stay as they are.
find_program(DPKG_DEB dpkg-deb)
if(NOT DPKG_DEB)
  message(WARNING "dpkg-deb is missing: the package keeps CPack's ldconfig scripts")
  return()
endif()
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT deb MATCHES "\\.deb$")
    continue()
  endif()
  set(root "${deb}.root")
  file(REMOVE_RECURSE "${root}")
  execute_process(COMMAND ${DPKG_DEB} -R "${deb}" "${root}" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "dpkg-deb -R ${deb} failed")
  endif()
  foreach(script postinst postrm)
    if(EXISTS "${root}/DEBIAN/${script}")
      file(READ "${root}/DEBIAN/${script}" text)
      # Only CPack's own script, which does nothing but ldconfig, goes.
      string(REGEX REPLACE "[ \t\r\n]+" " " flat "${text}")
      if(flat MATCHES "^#!/bin/sh set -e if \\[ \"\\$1\" = \"(configure|remove)\" \\]; then ldconfig fi ?$")
        file(REMOVE "${root}/DEBIAN/${script}")
      endif()
    endif()
  endforeach()
  execute_process(COMMAND ${DPKG_DEB} --root-owner-group -Zxz --build "${root}" "${deb}"
                  RESULT_VARIABLE rc OUTPUT_QUIET)
  file(REMOVE_RECURSE "${root}")
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "dpkg-deb --build ${deb} failed")
  endif()
endforeach()
