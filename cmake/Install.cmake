# Installation layout and the Debian package (cpack -G DEB).
include(GNUInstallDirs)

set(torva_programs torva torva-sim)
foreach(tool torva-decode torva-read torva-ctl)
  if(TARGET ${tool})
    list(APPEND torva_programs ${tool})
  endif()
endforeach()
install(TARGETS ${torva_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# One manual page a program, made from its --help text (laid out as a manual page) at build time.
set(torva_generated)
foreach(program IN LISTS torva_programs)
  string(TOUPPER ${program} title)
  set(page ${CMAKE_BINARY_DIR}/man/${program}.1.gz)
  add_custom_command(
    OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${program}> -DTITLE=${title}
            "-DSOURCE=TORVA ${PROJECT_VERSION}" -DSCRIPT=${PROJECT_SOURCE_DIR}/packaging/help2roff.awk
            -DOUTPUT=${page} -P ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
    DEPENDS ${program} ${PROJECT_SOURCE_DIR}/packaging/help2roff.awk
            ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
    COMMENT "Manual page ${program}(1)"
    VERBATIM)
  list(APPEND torva_generated ${page})
endforeach()
install(FILES ${torva_generated} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The package's changelog: its latest entry must carry the project's version.
set(changelog ${PROJECT_SOURCE_DIR}/packaging/changelog)
file(STRINGS ${changelog} changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^torva \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog: the latest entry (${changelog_head}) is not for "
                      "version ${PROJECT_VERSION}; add an entry for it")
endif()
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/doc/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/doc
  COMMAND ${CMAKE_COMMAND} -E copy ${changelog} ${CMAKE_BINARY_DIR}/doc/changelog
  COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/doc/changelog
  DEPENDS ${changelog}
  COMMENT "Compressing the changelog"
  VERBATIM)
list(APPEND torva_generated ${CMAKE_BINARY_DIR}/doc/changelog.gz)
add_custom_target(torva_package_files ALL DEPENDS ${torva_generated})

set(docdir ${CMAKE_INSTALL_DATADIR}/doc/torva)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${CMAKE_BINARY_DIR}/doc/changelog.gz
        DESTINATION ${docdir})

# Desktop entry, icons and AppStream metadata. The release date comes from the changelog's
# latest entry (" -- Name <address>  Tue, 08 Dec 2026 12:00:00 +0000").
set(TORVA_APPSTREAM_ID org.example.torva)
file(STRINGS ${changelog} changelog_trailers REGEX "^ -- ")
list(GET changelog_trailers 0 trailer)
string(REGEX MATCH "([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9])" date "${trailer}")
set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND months "${CMAKE_MATCH_2}" month)
math(EXPR month "${month} + 1" OUTPUT_FORMAT DECIMAL)
if(month LESS 10)
  set(month 0${month})
endif()
set(TORVA_RELEASE_DATE ${CMAKE_MATCH_3}-${month}-${CMAKE_MATCH_1})
configure_file(${PROJECT_SOURCE_DIR}/packaging/torva.metainfo.xml.in
               ${CMAKE_BINARY_DIR}/${TORVA_APPSTREAM_ID}.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/${TORVA_APPSTREAM_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/torva.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/res/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME torva)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the TORVA developers")
set(CPACK_PACKAGE_CONTACT "TORVA developers <torva@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "console for a digital compass module on a serial line")
set(CPACK_PACKAGE_DESCRIPTION_FILE ${PROJECT_SOURCE_DIR}/packaging/description.txt)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_INSTALL_DIRECTORY torva)
set(CPACK_DEBIAN_PACKAGE_NAME torva)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# Stripped programs, their debug symbols in a torva-dbgsym package beside it: CPack's own
# stripping would leave nothing to split off, so the Debian generator strips while it splits.
set(CPACK_STRIP_FILES OFF)
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
# Library dependencies come from dpkg-shlibdeps (package dpkg-dev, which also needs `file`);
# the fonts are loaded by name at run time, so no library points at them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2, fonts-arphic-uming")
include(CPack)
