# `cpack -G DEB` in the build folder makes pellavo_<version>_<arch>.deb of what cmake/Install.cmake
# installs, under /usr, with its Depends computed from the shared libraries the programs load.
set(PELLAVO_MAINTAINER "Pellavo developers <pellavo@example.com>" CACHE STRING
    "The Debian package's maintainer, \"Name <address>\"")

set(CPACK_PACKAGE_NAME pellavo)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Pellavo developers")
set(CPACK_PACKAGE_CONTACT "${PELLAVO_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "batch image resizer")
# Lines under 80 characters, as Debian's package tools show them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
       "Pellavo converts a list of images to a chosen size and format, several"
       "files at a time. It reads BMP, ICO, WMF, EMF, JPEG, JPEG 2000, PNG and"
       "GIF, and writes JPEG, PNG, GIF, BMP, EMF, JPEG 2000 or a one-page PDF,"
       "with an optional frame, coloured border and 16:9 crop. The window"
       "pellavo takes files and folders from the file manager, by drag and drop"
       "or from the clipboard; pellavo-cli runs the same conversion from the"
       "command line.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${PELLAVO_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(PELLAVO_BUILD_GUI)
  pellavo_site_of("${PELLAVO_LATEST_URL}" site)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${site}/")
  # Qt finds its Wayland platform plugin only at run time, so no library names it.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-wayland)
endif()

set(CPACK_GENERATOR DEB)
include(CPack)
