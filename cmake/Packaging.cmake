# Installation and the Debian package: the window, quillmark-tool, the udev
# rule for the box and the desktop integration. Build the package with
#   cmake --build build --target package        -> build/quillmark_2.3_amd64.deb
include(GNUInstallDirs)

install(TARGETS quillmark quillmark-tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# udev reads rules from /usr/lib/udev/rules.d (packages) and /etc/udev/rules.d
# (the administrator's overrides), never under /usr/local: a source build
# installed elsewhere copies the rule by hand (README). The rule is not
# multiarch, so this is lib/, not CMAKE_INSTALL_LIBDIR.
set(QUILLMARK_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING
    "Where the box's udev rule goes, relative to the install prefix")
install(FILES data/60-quillmark-box.rules DESTINATION ${QUILLMARK_UDEV_RULES_DIR})

set(_app_id io.github.quillmark.Quillmark)
install(FILES data/${_app_id}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES data/${_app_id}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES data/icons/${_app_id}.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(_size 48 128 256)
  install(FILES data/icons/${_app_id}-${_size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps
          RENAME ${_app_id}.png)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillmark)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Quillmark developers")
set(CPACK_PACKAGE_CONTACT "Quillmark developers")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quillmark developers")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The first line is the short description, the rest the long one (CPack
# indents it and turns the empty line into the paragraph mark).
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "workbench for testing rotary position encoders
Quillmark is an engineer's workbench for testing rotary position encoders
through the USB adapter box (EZ-USB FX2): configure the encoder's interface,
watch live positions, capture the raw stream, run the accuracy and
resolution tests, analyse sin/cos tracks, calibrate encoders and write their
EEPROM.

The package has the window (quillmark) and the command line
(quillmark-tool), which runs every test from a script with JSON output. A
simulated box is built in (--simulate), so both work without hardware. The
udev rule gives the logged-in user and the plugdev group access to the box.")
# dpkg-shlibdeps finds the libraries the programs link; it cannot see the
# plugins Qt loads at run time: the SQLite driver of the results store, the
# PostgreSQL driver for a line of stations, and the fonts the dialogs ask for.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk, fonts-liberation")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libqt6sql6-psql")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

include(CPack)
