# Packages of what `cmake --install` puts in place: libkelmar.so, kelmar-check,
# kelmar-host and their manuals, under /opt/kelmar. In the build directory,
# `cpack` makes both; `cpack -G DEB` or `cpack -G TGZ` one of them. The
# tar.gz holds the same tree as the .deb (opt/kelmar/...), for `tar -C /`.
set(CPACK_PACKAGE_NAME libkelmar)
set(CPACK_PACKAGE_VENDOR "libkelmar")
set(CPACK_PACKAGE_CONTACT "libkelmar maintainers <libkelmar@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "DB2 vendor storage library for Vorlan, with kelmar-check and kelmar-host")
set(CPACK_GENERATOR DEB TGZ)
set(CPACK_PACKAGING_INSTALL_PREFIX /opt/kelmar)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
# The tools' C++ run time comes in through dpkg-shlibdeps; the library itself
# needs only libc.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

include(CPack)
