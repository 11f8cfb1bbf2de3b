# The packages: a .deb, an .rpm and a .tar.gz of what `cmake --install` puts
# in place under /opt/kelmar (libkelmar.so, kelmar-check, kelmar-host, their
# manuals, the copyright and the changelog), with stripped binaries, and
# beside them a .tar.gz of the debug information they lost. `cpack` in the
# build directory makes all four; `cpack -G DEB` (RPM, TGZ) one package.
set(CPACK_PACKAGE_NAME libkelmar)
set(CPACK_PACKAGE_VENDOR "libkelmar")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "DB2 vendor storage library for Vorlan, with kelmar-check and kelmar-host")
set(CPACK_PACKAGE_DESCRIPTION_FILE ${PROJECT_SOURCE_DIR}/packaging/description)
# The .deb's, as it is: cpack escapes the file's text for XML.
file(READ ${CPACK_PACKAGE_DESCRIPTION_FILE} CPACK_PACKAGE_DESCRIPTION)
set(CPACK_GENERATOR DEB RPM TGZ)
set(CPACK_PACKAGING_INSTALL_PREFIX /opt/kelmar)
# DB2 is given /opt/kelmar/lib/libkelmar.so: the files have one place.
set(CPACK_PACKAGE_RELOCATABLE OFF)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_VERBATIM_VARIABLES ON)

# The changelog is the one home of the release's version and its maintainer.
set(changelog ${PROJECT_SOURCE_DIR}/packaging/changelog)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${changelog})
file(STRINGS ${changelog} release REGEX "^libkelmar \\(" LIMIT_COUNT 1)
if(NOT release MATCHES "^libkelmar \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog begins with \"${release}\", not with version ${PROJECT_VERSION}")
endif()
file(STRINGS ${changelog} signature REGEX "^ -- " LIMIT_COUNT 1)
string(REGEX REPLACE "^ -- (.*>)  .*" "\\1" CPACK_PACKAGE_CONTACT "${signature}")
install(FILES packaging/copyright ${changelog} DESTINATION ${CMAKE_INSTALL_DOCDIR})

# packaging/prepare_package.cmake strips what cpack is about to pack, keeps
# the debug information apart, and moves the documents to Debian's places.
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/prepare_package.cmake)
set(CPACK_KELMAR_OBJCOPY ${CMAKE_OBJCOPY})
set(CPACK_KELMAR_STRIP ${CMAKE_STRIP})
set(CPACK_KELMAR_READELF ${CMAKE_READELF})
set(CPACK_KELMAR_LINTIAN_OVERRIDES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides)
set(CPACK_KELMAR_DEBUG_ARCHIVE ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}-debug.tar.gz)
# What differs between the formats: the .tar.gz's prefix.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/packaging/per_format.cmake)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
# From the binaries' symbol versions: libc6 (>= 2.17) and libgcc-s1.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
set(CPACK_RPM_PACKAGE_LICENSE "none chosen yet")
set(CPACK_RPM_PACKAGE_GROUP "Applications/Databases")
# /opt belongs to the system; rpm's links under /usr/lib/.build-id would lie outside /opt/kelmar.
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION /opt)
set(CPACK_RPM_SPEC_MORE_DEFINE "%define _build_id_links none")

include(CPack)
