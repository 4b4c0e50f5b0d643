# The Debian package, built by `make deb` (cpack -G DEB in the build folder):
# build/volnex_<version>_amd64.deb, its Depends found by dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME volnex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Volnex developers")
set(CPACK_PACKAGE_CONTACT "${VOLNEX_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "paging terminal for a serial line, with a test caller")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VOLNEX_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${VOLNEX_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The extended description; CPack indents its lines and writes the blank
# one as " .", and puts the summary above it as the synopsis.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Volnex stands in for a pocket-paging terminal on an RS-232 line. A
page-originating system calls it with the alphanumeric paging protocol
(ID= prompt, PG1 logon, one checksummed block per page); Volnex answers
every page with ACK or NAK and shows the session state, the CTS, DSR and
DCD levels, every page received with its time stamp, and the raw traffic
with control characters spelled out. Both lists save as text reports.

The package also holds veldrin-sim, a command-line caller that sends pages
over a serial device or a virtual line it makes, and injects faults, for
testing a terminal without a paging system.")
include(CPack)
