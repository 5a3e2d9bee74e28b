# What `cmake --install` puts in place and the three Debian packages CPack
# makes of it in one run:
#   torvela             the window (Qt), its desktop entry and icon
#   torvela-cli         the command line: no Qt, for a headless machine
#   torvela-writer-sim  the simulated writer, for trying and testing
#   torvela-shop        the shop's service over PostgreSQL, with its systemd unit
include(GNUInstallDirs)

set(man_dir ${CMAKE_BINARY_DIR}/man)
set(doc_dir ${CMAKE_BINARY_DIR}/doc)
set(packaged)

# A manual page and the changelog go in gzip'ed without a time stamp.
function(torvela_gzip source target)
  add_custom_command(OUTPUT ${target}
                     COMMAND gzip -9nc ${source} > ${target}
                     DEPENDS ${source} VERBATIM)
endfunction()
file(MAKE_DIRECTORY ${man_dir} ${doc_dir})
torvela_gzip(${PROJECT_SOURCE_DIR}/packaging/changelog ${doc_dir}/changelog.gz)

# One component: its program, manual page, copyright and changelog.
function(torvela_component component program)
  torvela_gzip(${PROJECT_SOURCE_DIR}/packaging/man/${program}.1 ${man_dir}/${program}.1.gz)
  add_custom_target(${program}_docs ALL DEPENDS ${man_dir}/${program}.1.gz ${doc_dir}/changelog.gz)
  install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component})
  install(FILES ${man_dir}/${program}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${doc_dir}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${program} COMPONENT ${component})
endfunction()

if(TARGET torvela)
  torvela_component(window torvela)
  if(UNIX AND NOT APPLE)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/torvela.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT window)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/torvela.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT window)
  endif()
  list(APPEND packaged window)
endif()
torvela_component(cli torvela-cli)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/torvela-cli.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME torvela-cli COMPONENT cli)
list(APPEND packaged cli)
if(TARGET torvela-writer-sim)
  torvela_component(sim torvela-writer-sim)
  list(APPEND packaged sim)
endif()

if(TARGET torvela-shop)
  torvela_component(shop torvela-shop)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/shop/torvela-shop.service
          DESTINATION lib/systemd/system COMPONENT shop)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/shop/default DESTINATION /etc/default RENAME torvela-shop
          COMPONENT shop)
  list(APPEND packaged shop)
endif()

set(CPACK_PACKAGE_NAME torvela)
set(CPACK_PACKAGE_VENDOR "TORVELA")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "TORVELA developers <torvela@example.org>")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB)
set(CPACK_COMPONENTS_ALL ${packaged})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://torvela.example.org/")
# The libraries each program links, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME torvela)
set(CPACK_COMPONENT_WINDOW_DESCRIPTION "service window for the ROM writer on an RS-232 line
The operator's tool beside a ROM writer, the programming box on one RS-232
line that flashes M16C and M32R target units: it saves the writer's
memories area to a file (verified, and put in place before the writer's
blocks are erased), transmits such a file back and erases all flash. A
service view holds the writer's service operations, the trace of every
frame on the line and the progress of the pass under way.")
# The window cannot start without Qt's platform plugins; the Japanese
# captions want a CJK font.
set(CPACK_DEBIAN_WINDOW_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_WINDOW_PACKAGE_RECOMMENDS "fonts-noto-cjk")
set(CPACK_DEBIAN_WINDOW_PACKAGE_SUGGESTS "torvela-cli, torvela-writer-sim")

set(CPACK_DEBIAN_CLI_PACKAGE_NAME torvela-cli)
set(CPACK_COMPONENT_CLI_DESCRIPTION "ROM writer operations from the command line
Runs one operation of the TORVELA service window against the ROM writer on
an RS-232 line (save or transmit the memories, erase all flash, the ROM
image and service operations) with the same frames and texts, for scripts
and for machines without a display. The exit status tells success, an
error, an unusable file and a port that cannot be opened apart.")

set(CPACK_DEBIAN_SIM_PACKAGE_NAME torvela-writer-sim)
set(CPACK_COMPONENT_SIM_DESCRIPTION "simulated ROM writer on a pseudo-terminal
A model of the ROM writer that answers its frames on a pseudo-terminal and
links it as a COM port for TORVELA, so that the window and the command line
can be tried and tested without a writer. Faults (silence, refusals, cut
or spoiled pages, a dropped line) can be injected reply by reply.")

set(CPACK_DEBIAN_SHOP_PACKAGE_NAME torvela-shop)
set(CPACK_DEBIAN_SHOP_PACKAGE_SECTION net)
set(CPACK_DEBIAN_SHOP_PACKAGE_RECOMMENDS "postgresql")
set(CPACK_DEBIAN_SHOP_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/shop/conffiles)
set(CPACK_COMPONENT_SHOP_DESCRIPTION "shop record of every TORVELA bench, over PostgreSQL
A service for a service shop's server: every bench (a PC beside a ROM
writer running TORVELA) publishes each job's record and each unit it saved
to it over HTTP(S), and reads every bench's back. The record is kept in a
PostgreSQL database, added to and never changed; a read-only page shows
it in a browser. Runs under systemd as a dynamic user.")
include(CPack)
