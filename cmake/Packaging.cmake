# Debian package of the program, its set-up tools and its libraries, with the
# service unit, the manual pages and the desktop entry (dist/):
#   cmake --build build && (cd build && cpack)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velloran)
set(CPACK_PACKAGE_VENDOR "Velloran maintainers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Store-and-forward mail for machines that reach each other by modem")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Velloran maintainers <maintainers@velloran.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libfltk1.3, liblzma5, fonts-liberation2")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The service unit template (velloran@.service) is made known to systemd.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${CMAKE_SOURCE_DIR}/dist/debian/postinst;${CMAKE_SOURCE_DIR}/dist/debian/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)
