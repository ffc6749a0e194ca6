# SPDX-License-Identifier: MIT
# Installation (GNU layout) and the Debian package of nvrst.
include(GNUInstallDirs)

# Debian ships manual pages compressed.
set(manpage ${PROJECT_BINARY_DIR}/nvrst.8.gz)
add_custom_command(OUTPUT ${manpage}
                   COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/driver/tools/nvrst.8 > ${manpage}
                   DEPENDS ${PROJECT_SOURCE_DIR}/driver/tools/nvrst.8 VERBATIM)
add_custom_target(manpage ALL DEPENDS ${manpage})

# A hardware administration tool: sbin, section 8.
install(TARGETS nvrst RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
install(FILES ${manpage} DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)

# The package's architecture is the target's, also when cross-building.
set(deb_arch_of_x86_64 amd64)
set(deb_arch_of_aarch64 arm64)
set(deb_arch_of_s390x s390x)
set(deb_arch_of_i686 i386)
set(deb_arch_of_armv7l armhf)
set(deb_arch_of_ppc64le ppc64el)
set(deb_arch_of_riscv64 riscv64)
if(DEFINED deb_arch_of_${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${deb_arch_of_${CMAKE_SYSTEM_PROCESSOR}})
elseif(CMAKE_CROSSCOMPILING)
  message(FATAL_ERROR "No Debian architecture known for ${CMAKE_SYSTEM_PROCESSOR}")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME nvrst)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "read and set the calibration values in a board's NVSRAM")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "read and set the calibration values in a board's NVSRAM
 nvrst maps the NVSRAM window of the board driver's character device and
 reads or writes the minimum charging voltage, the trim voltage and the
 capacitance stored there, or dumps the whole parameter area.
 .
 Caution: wrong values may stop the board from working.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "nvrst developers <nvrst@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
if(CMAKE_CROSSCOMPILING)
  # dpkg-shlibdeps knows only the host's libraries: glibc 2.34 brought the
  # newest symbol versions the tool uses.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34)")
else()
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)
