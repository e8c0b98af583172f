# Installation layout and the Debian package.
include(GNUInstallDirs)
set(CMAKE_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/kestrow)

install(TARGETS kestrow-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(KESTROW_GUI)
  install(TARGETS kestrow RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/res/kestrow.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  foreach(size IN ITEMS 16 24 32 48 64 128 256)
    install(FILES ${PROJECT_SOURCE_DIR}/res/icons/kestrow-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME kestrow.png)
  endforeach()
endif()

# Manual pages carry the version; Debian installs them compressed.
set(KESTROW_VERSION ${PROJECT_VERSION})
set(manuals)
foreach(page IN ITEMS kestrow-cli kestrow)
  if(page STREQUAL "kestrow" AND NOT KESTROW_GUI)
    continue()
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/docs/${page}.1 ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.1 @ONLY)
  add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.1.gz
                     COMMAND gzip -9 -n -f -k ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.1
                     DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.1)
  list(APPEND manuals ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.1.gz)
endforeach()
add_custom_target(manuals ALL DEPENDS ${manuals})
install(FILES ${manuals} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)

# Debian expects a changelog in its own format beside the documentation.
string(TIMESTAMP KESTROW_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog
     "kestrow (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
     "  * Release ${PROJECT_VERSION}; see CHANGELOG.md.\n\n"
     " -- The Kestrow developers <kestrow@kestrow.example>  ${KESTROW_CHANGELOG_DATE}\n")
add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.gz
                   COMMAND gzip -9 -n -f -k ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog
                   DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog)
add_custom_target(debian_changelog ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.gz)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrow)
set(CPACK_PACKAGE_VENDOR "The Kestrow developers")
set(CPACK_PACKAGE_CONTACT "The Kestrow developers <kestrow@kestrow.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "view and recover the messages of copied phone message databases")
set(CPACK_PACKAGE_DESCRIPTION
    "Kestrow reads an Android mmssms.db or an iPhone sms.db copied from a phone,\n of old and current phones, lists the conversation partners, shows each\n conversation and recovers deleted messages whose bytes are still in the file\n or its write-ahead log, in a default or a deep recovery that reads the database,\n its log and its journal by their structure. It exports conversations as text\n or as HTML, CSV and JSON reports with the SHA-256 of the evidence. It never\n changes the database it reads or any file beside it. Includes the desktop\n window kestrow (English or Chinese) and the command-line companion kestrow-cli.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei, fonts-noto-color-emoji")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "http://www.kestrow.example/")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
include(CPack)
