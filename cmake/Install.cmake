# Installation layout and the Debian package (cpack -G DEB).
include(GNUInstallDirs)

set(torva_programs torva torva-sim)
foreach(tool torva-decode torva-read)
  if(TARGET ${tool})
    list(APPEND torva_programs ${tool})
  endif()
endforeach()
install(TARGETS ${torva_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/packaging/torva.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/res/icon128.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps RENAME torva.png)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME torva)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "TORVA developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop console for a digital compass module on a serial line")
set(CPACK_PACKAGE_INSTALL_DIRECTORY torva)
set(CPACK_DEBIAN_PACKAGE_NAME torva)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "TORVA developers")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# Library dependencies come from dpkg-shlibdeps (package dpkg-dev, which also needs `file`);
# the fonts are loaded by name at run time, so no library points at them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2, fonts-arphic-uming")
include(CPack)
