# cmake --install and the Debian package (cmake --build build --target package).
#
# The program is installed as bin/varnex-bulksms: a lower-case name of its own, as
# programs in /usr/bin have, that no other package is likely to take. The build keeps
# build/app/BulkSMS, which the scripts and tests use.

set(BULKSMS_DESKTOP_FILE ${CMAKE_BINARY_DIR}/desktop/${BULKSMS_APP_ID}.desktop)
set(BULKSMS_METAINFO_FILE ${CMAKE_BINARY_DIR}/desktop/${BULKSMS_APP_ID}.metainfo.xml)
configure_file(${CMAKE_SOURCE_DIR}/data/desktop/${BULKSMS_APP_ID}.desktop.in
  ${BULKSMS_DESKTOP_FILE} @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/data/desktop/${BULKSMS_APP_ID}.metainfo.xml.in
  ${BULKSMS_METAINFO_FILE} @ONLY)

install(PROGRAMS $<TARGET_FILE:BulkSMS> DESTINATION ${CMAKE_INSTALL_BINDIR}
  RENAME ${BULKSMS_PACKAGE_NAME})
# install(PROGRAMS) is not stripped by --strip or the package; the program is.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-unneeded
      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${BULKSMS_PACKAGE_NAME}\"
      COMMAND_ERROR_IS_FATAL ANY)
  endif()")
if(TARGET gsm-modem-sim)
  install(TARGETS gsm-modem-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# Read-only files the program ships: the empty database a new data folder starts from,
# and the sounds.
install(FILES ${BULKSMS_SHIPPED_DB} ${CMAKE_SOURCE_DIR}/data/sounds/SMSNotify.wav
  ${CMAKE_SOURCE_DIR}/data/sounds/ringing.wav DESTINATION ${BULKSMS_INSTALL_SHAREDIR})

install(FILES ${BULKSMS_DESKTOP_FILE} DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${BULKSMS_METAINFO_FILE} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${CMAKE_SOURCE_DIR}/data/desktop/${BULKSMS_APP_ID}.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 48 256)
  install(FILES ${CMAKE_SOURCE_DIR}/data/desktop/${BULKSMS_APP_ID}-${size}.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
    RENAME ${BULKSMS_APP_ID}.png)
endforeach()

# The Debian package. Its dependencies come from the shared libraries the two programs
# actually link (dpkg-shlibdeps); the plugins Qt loads at run time come with those
# libraries (the X11 and offscreen platforms with libqt6gui6, the sound backends with
# libqt6multimedia6). On a Wayland desktop without qt6-wayland the program runs through
# XWayland, so that is only recommended. The package has no maintainer scripts: the
# desktop entry and the icons are registered by the triggers of desktop-file-utils and
# hicolor-icon-theme.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${BULKSMS_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Varnex)
set(CPACK_PACKAGE_CONTACT "Varnex <bulksms@varnex.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Send and receive SMS in bulk through a GSM modem")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Varnex - Bulk SMS sends and receives text messages through a GSM modem or a
mobile phone on a serial port: messages to a few numbers or to thousands
imported from text, Access and Excel files, the received messages moved from
the SIM card into its Inbox, missed calls logged and answered with an automatic
SMS. Everything is kept in one password-protected database file.
.
The package also holds gsm-modem-sim, a simulated GSM modem on a
pseudo-terminal, to try the program without a modem.")
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.varnex.com/bulksms/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
