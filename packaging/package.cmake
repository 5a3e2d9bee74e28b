# What `cmake --install` puts in place and the .deb that CPack makes of it:
# the window, the command line, the simulated writer, and on Linux a desktop
# entry with its icon.
include(GNUInstallDirs)
install(TARGETS torvela torvela-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET torvela-writer-sim)
  install(TARGETS torvela-writer-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(UNIX AND NOT APPLE)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/torvela.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/torvela.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

set(CPACK_PACKAGE_NAME torvela)
set(CPACK_PACKAGE_VENDOR "TORVELA")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Service tool for the ROM writer on an RS-232 line")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "TORVELA developers <torvela@localhost>")
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# The libraries the programs link (Qt, the C++ library) as dpkg-shlibdeps
# finds them; the Japanese captions want a CJK font.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk")
include(CPack)
