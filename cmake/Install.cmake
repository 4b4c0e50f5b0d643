# Install rules: the programs, the help book, the desktop entry with its
# icon, the AppStream data, the manual pages and the package documents, in
# the places GNUInstallDirs names. `make install` and the Debian package
# both use them.

# Where the project's pages are published (AppStream, package metadata).
set(VOLNEX_HOMEPAGE "https://volnex.org" CACHE STRING "Home page of the project")
set(VOLNEX_MAINTAINER "The Volnex developers <maintainers@volnex.org>"
    CACHE STRING "Maintainer of the Debian package")

# "09/25/07" -> "2007-09-25" for the manual pages and AppStream.
string(REGEX REPLACE "^([0-9][0-9])/([0-9][0-9])/([0-9][0-9])$" "20\\3-\\1-\\2"
       VOLNEX_RELEASE_DATE_ISO "${VOLNEX_RELEASE_DATE}")
# The manual pages carry the package's version and date (the About box
# keeps the program's own release date).
set(VOLNEX_MAN_DATE "${VOLNEX_PACKAGE_DATE}")

set(VOLNEX_GENERATED ${CMAKE_CURRENT_BINARY_DIR}/generated)
configure_file(res/org.volnex.Volnex.metainfo.xml.in
               ${VOLNEX_GENERATED}/${VOLNEX_APP_ID}.metainfo.xml @ONLY)
configure_file(res/man/volnex.1.in ${VOLNEX_GENERATED}/man/volnex.1 @ONLY)
configure_file(res/man/veldrin-sim.1.in ${VOLNEX_GENERATED}/man/veldrin-sim.1 @ONLY)
configure_file(res/systemd/volnex@.service.in ${VOLNEX_GENERATED}/systemd/volnex@.service @ONLY)

# The licence as a Debian copyright file: the text after the copyright
# line, each line indented, blank lines as " .".
file(READ LICENSE VOLNEX_LICENSE_FULL)
string(REGEX REPLACE "^.*\n\nPermission" "Permission" VOLNEX_LICENSE_TEXT
       "${VOLNEX_LICENSE_FULL}")
string(STRIP "${VOLNEX_LICENSE_TEXT}" VOLNEX_LICENSE_TEXT)
string(REPLACE "\n\n" "\n.\n" VOLNEX_LICENSE_TEXT "${VOLNEX_LICENSE_TEXT}")
string(REPLACE "\n" "\n " VOLNEX_LICENSE_TEXT " ${VOLNEX_LICENSE_TEXT}")
configure_file(res/deb/copyright.in ${VOLNEX_GENERATED}/doc/copyright @ONLY)
configure_file(res/deb/changelog.in ${VOLNEX_GENERATED}/doc/changelog @ONLY)

# Manual pages and the changelog are installed compressed, as Debian wants.
find_program(GZIP_PROGRAM gzip REQUIRED)
set(VOLNEX_COMPRESSED)
foreach(file man/volnex.1 man/veldrin-sim.1 doc/changelog)
  add_custom_command(OUTPUT ${VOLNEX_GENERATED}/${file}.gz
    COMMAND ${GZIP_PROGRAM} -9 -n -c ${VOLNEX_GENERATED}/${file} > ${VOLNEX_GENERATED}/${file}.gz
    DEPENDS ${VOLNEX_GENERATED}/${file}
    COMMENT "Compressing ${file}")
  list(APPEND VOLNEX_COMPRESSED ${VOLNEX_GENERATED}/${file}.gz)
endforeach()
add_custom_target(volnex_docs ALL DEPENDS ${VOLNEX_COMPRESSED})

install(TARGETS veldrin-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The unit template for a rack of headless terminals, one per profile.
install(FILES ${VOLNEX_GENERATED}/systemd/volnex@.service
        DESTINATION lib/systemd/system)
install(FILES ${VOLNEX_GENERATED}/man/veldrin-sim.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES README.md ${VOLNEX_GENERATED}/doc/copyright ${VOLNEX_GENERATED}/doc/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# A profile for the unit, with the folders its sandbox lets it write.
install(FILES res/systemd/line1.INI DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

if(VOLNEX_GUI)
  install(TARGETS volnex RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${VOLNEX_GENERATED}/man/volnex.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # The program looks for the book here (ui/HelpBook.cpp).
  install(DIRECTORY res/help/ DESTINATION ${CMAKE_INSTALL_DATADIR}/volnex/help)
  install(FILES res/${VOLNEX_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${VOLNEX_GENERATED}/${VOLNEX_APP_ID}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES res/icons/volnex.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
          RENAME ${VOLNEX_APP_ID}.svg)
  foreach(size 16 32 48 64 128 256)
    install(FILES res/icons/volnex-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME ${VOLNEX_APP_ID}.png)
  endforeach()
endif()
