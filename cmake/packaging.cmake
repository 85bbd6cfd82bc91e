# The Debian package, built from the build tree after the build: `cpack -G DEB`.
# Everything `cmake --install` installs goes in, with the prefix /usr; the units land in
# /usr/lib/systemd/system and Statewarden's configuration in /etc/adaptive as a conffile, so an
# upgrade keeps a configuration the machine's owner changed.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarn1)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "tarn1 maintainers <tarn1-maintainers@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "lifecycle and access daemons of the tarn1 virtual machine")
set(CPACK_PACKAGE_DESCRIPTION
    "Statewarden, the state manager of the tarn1 virtual machine, and
tarn1_iam_daemon, which answers the access checks of the middleware,
with their systemd units, the stand-ins of the platform services they
need, the command-line tools and the simulator.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
# Install with the final prefix and DESTDIR, so that the install script can tell /usr (whose
# configuration belongs in /etc) from other prefixes.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The dependencies come from the shared libraries the programs link (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${CMAKE_CURRENT_LIST_DIR}/debian/conffiles;${CMAKE_CURRENT_LIST_DIR}/debian/postinst;${CMAKE_CURRENT_LIST_DIR}/debian/prerm;${CMAKE_CURRENT_LIST_DIR}/debian/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)
