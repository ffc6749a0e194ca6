# SPDX-License-Identifier: MIT
# Installation (GNU layout) and the Debian package of nvrst.
include(GNUInstallDirs)

# Whatever the builder's umask, what is installed or packaged has the usual
# permissions: directories 755, files 644, the program 755.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})

# The manual page carries the project's version and the date of the commit
# it was built from; Debian ships manual pages and changelogs compressed.
string(TIMESTAMP NVRST_DATE "%Y-%m-%d" UTC)
configure_file(${PROJECT_SOURCE_DIR}/driver/tools/nvrst.8.in ${PROJECT_BINARY_DIR}/nvrst.8 @ONLY)
foreach(source ${PROJECT_BINARY_DIR}/nvrst.8 ${PROJECT_SOURCE_DIR}/changelog)
  get_filename_component(doc ${source} NAME)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/${doc}.gz COMMAND gzip -9nc ${source} > ${doc}.gz
                     DEPENDS ${source} WORKING_DIRECTORY ${PROJECT_BINARY_DIR} VERBATIM)
endforeach()
add_custom_target(docs ALL DEPENDS ${PROJECT_BINARY_DIR}/nvrst.8.gz ${PROJECT_BINARY_DIR}/changelog.gz)

# The licence as a machine-readable copyright file.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
string(REGEX REPLACE "^MIT License\n\nCopyright \\(c\\) ([^\n]*)\n\n" "" terms "${license}")
set(holder ${CMAKE_MATCH_1})
string(REGEX REPLACE "\n\n" "\n.\n" terms "${terms}")
string(REGEX REPLACE "\n([^\n])" "\n \\1" terms "${terms}")
file(WRITE ${PROJECT_BINARY_DIR}/copyright
     "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\nUpstream-Name: nvrst\n\n"
     "Files: *\nCopyright: ${holder}\nLicense: MIT\n ${terms}")

# A hardware administration tool: sbin, section 8.
install(TARGETS nvrst RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
install(FILES ${PROJECT_BINARY_DIR}/nvrst.8.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
install(FILES ${PROJECT_SOURCE_DIR}/driver/tools/nvrst.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME nvrst)
install(FILES ${PROJECT_BINARY_DIR}/copyright ${PROJECT_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The package's architecture is the target's, also when cross-building:
# dpkg-architecture names it from the compiler's GNU triplet. Where that
# cannot be done, configuring goes on; only a package made here would carry
# the build machine's architecture.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -dumpmachine OUTPUT_VARIABLE triplet OUTPUT_STRIP_TRAILING_WHITESPACE
                ERROR_QUIET)
execute_process(COMMAND dpkg-architecture -t${triplet} -qDEB_HOST_ARCH OUTPUT_VARIABLE deb_arch
                OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
if(NOT failed AND deb_arch)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${deb_arch})
endif()

# cpack runs later, maybe without SOURCE_DATE_EPOCH in its environment: it
# takes the one this configuration used.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  file(WRITE ${PROJECT_BINARY_DIR}/cpack-epoch.cmake "set(ENV{SOURCE_DATE_EPOCH} $ENV{SOURCE_DATE_EPOCH})\n")
  set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/cpack-epoch.cmake)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME nvrst)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# CPack writes the summary as the Description's first line and indents the
# long description itself.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "read and set the calibration values in a board's NVSRAM")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "nvrst maps the NVSRAM window of the board driver's character device and
reads or writes the minimum charging voltage, the trim voltage and the
capacitance stored there, or dumps the whole parameter area.

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
