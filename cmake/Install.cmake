# Installation and the Debian package.
#
#   cmake --install build [--prefix DIR]     installs the program
#   cd build && cpack -G DEB                 builds sonarvex_<version>_<arch>.deb
#   scripts/package.sh                       a hardened build without tests,
#                                            its .deb and lintian on it
#
# Layout below the prefix: bin/sonarvex and bin/sonarvex-cli; the MP3 decoder
# in the private folder lib/sonarvex/ (the program looks there, relative to
# its executable); the desktop entry, the icon, the AppStream metadata, the
# manual pages, the bash completion and the README (the window's help) in
# share/. Installed, the program keeps its state in the user's XDG folders.
include(GNUInstallDirs)

if(TARGET sonarvex)
  install(TARGETS sonarvex RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(TARGETS sonarvex-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET kelpra)
  install(TARGETS kelpra LIBRARY DESTINATION lib/sonarvex)
endif()

set(SONARVEX_DATA ${CMAKE_SOURCE_DIR}/data)
install(FILES ${SONARVEX_DATA}/sonarvex.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${SONARVEX_DATA}/sonarvex.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# The metadata and the manual pages carry the project's version.
configure_file(${SONARVEX_DATA}/io.sonarvex.Sonarvex.metainfo.xml
  ${CMAKE_BINARY_DIR}/data/io.sonarvex.Sonarvex.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/data/io.sonarvex.Sonarvex.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${SONARVEX_DATA}/sonarvex-cli.bash-completion
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME sonarvex-cli)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/sonarvex)

# Manual pages, compressed as Debian keeps them.
find_program(GZIP_PROGRAM gzip)
foreach(page sonarvex.1 sonarvex-cli.1)
  configure_file(${CMAKE_SOURCE_DIR}/doc/${page} ${CMAKE_BINARY_DIR}/man-pages/${page} @ONLY)
  if(GZIP_PROGRAM)
    add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND ${GZIP_PROGRAM} -9nc ${CMAKE_BINARY_DIR}/man-pages/${page} > ${CMAKE_BINARY_DIR}/man/${page}.gz
      DEPENDS ${CMAKE_BINARY_DIR}/man-pages/${page} VERBATIM)
    list(APPEND SONARVEX_MAN_PAGES ${CMAKE_BINARY_DIR}/man/${page}.gz)
  else()
    list(APPEND SONARVEX_MAN_PAGES ${CMAKE_BINARY_DIR}/man-pages/${page})
  endif()
endforeach()
add_custom_target(manpages ALL DEPENDS ${SONARVEX_MAN_PAGES})
install(FILES ${SONARVEX_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The Debian package's own documents: a machine-readable copyright file, the
# changelog (a native package: changelog.gz) and the lintian overrides.
configure_file(${SONARVEX_DATA}/debian/changelog.in ${CMAKE_BINARY_DIR}/debian/changelog @ONLY)
if(GZIP_PROGRAM)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/debian/changelog.gz
    COMMAND ${GZIP_PROGRAM} -9nc ${CMAKE_BINARY_DIR}/debian/changelog > ${CMAKE_BINARY_DIR}/debian/changelog.gz
    DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog VERBATIM)
  add_custom_target(debian_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog.gz)
  install(FILES ${CMAKE_BINARY_DIR}/debian/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/sonarvex)
endif()
install(FILES ${SONARVEX_DATA}/debian/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/sonarvex)
install(FILES ${SONARVEX_DATA}/debian/lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME sonarvex)

# The Debian package.
set(CPACK_PACKAGE_NAME sonarvex)
set(CPACK_PACKAGE_VENDOR "Sonarvex")
set(CPACK_PACKAGE_CONTACT "Sonarvex developers <sonarvex@users.noreply.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "audio CD ripper with a Russian user interface")
set(CPACK_PACKAGE_DESCRIPTION
  "Sonarvex rips audio CDs to WAV, FLAC, MP3, Ogg Vorbis and WMA, names the\nfiles from CDDB data or its own album database and tags them. It also\nrecords audio CDs, converts audio files and plays tracks and files.\nsonarvex-cli rips without a window.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://sonarvex.io/")
# Libraries the program links come from dpkg-shlibdeps; those it loads at run
# time (encoders, the Qt platform and SVG plugins, GStreamer) are named here,
# with the libraries opened on first use rather than linked (FFmpeg,
# GStreamer, ALSA, libcurl: the run-time names of Debian 12's packages, which
# the program's FFmpeg headers fix).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libkelpra.so lies in the program's private folder: no shlibs file, and no
# ldconfig in maintainer scripts (CPack writes them for any library below
# /usr/lib; DebWithoutLdconfig.cmake takes them out again).
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/DebWithoutLdconfig.cmake)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "libavcodec59, libavformat59, libavutil57, libswresample4, libgstreamer1.0-0, libasound2, libcurl4, qt6-qpa-plugins, libqt6svg6, libmp3lame0, libogg0, libvorbis0a, libvorbisenc2, libdeflate0, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-alsa")
# libFLAC.so.12 (FLAC output) and libopusenc (Opus output) are loaded when a
# rip or a conversion asks for their format; without them the rest works.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
  "libflac12, libopusenc0, gstreamer1.0-plugins-ugly, gstreamer1.0-libav, qt6-translations-l10n, xdg-utils, hicolor-icon-theme")
set(CPACK_GENERATOR DEB)
include(CPack)
