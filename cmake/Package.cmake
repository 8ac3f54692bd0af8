# The Debian package (CPack): `cpack` in a build tree writes tunewick_<version>_amd64.deb.
# The shared libraries' packages are found by dpkg-shlibdeps; xdg-utils opens the default
# browser when Chromium is missing.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tunewick)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CONTACT "Tunewick maintainers <maintainers@users.noreply.c-seed-26ca5bb3.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "guitar tuner and trainer")
# The extended description, after the summary line; CPack indents each line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Tunewick helps you learn the guitar. It listens through the microphone and
shows what it hears in a window of its own: a tuner with a needle that says
whether a string sounds flat, in tune or sharp; a note trainer that lights up
the open string you play; a recorder to listen to yourself; and a maze to
walk with the arrow keys.
.
The window is a page served by the program on 127.0.0.1 and shown in
Chromium's app mode, or in the default browser.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://github.com/tunewick/tunewick)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS xdg-utils)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS chromium)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
