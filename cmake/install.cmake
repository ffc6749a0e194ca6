# SPDX-License-Identifier: MIT
# Installation (GNU layout): the program, its manual page and its bash
# completion. The Debian package is built from debian/.
include(GNUInstallDirs)

# Whatever the builder's umask, what is installed has the usual
# permissions: directories 755, files 644, the program 755.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The manual page carries the project's version and the date of the commit
# it was built from (or SOURCE_DATE_EPOCH), and is installed compressed.
string(TIMESTAMP NVRST_DATE "%Y-%m-%d" UTC)
configure_file(${PROJECT_SOURCE_DIR}/driver/tools/nvrst.8.in ${PROJECT_BINARY_DIR}/nvrst.8 @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/nvrst.8.gz COMMAND gzip -9nc nvrst.8 > nvrst.8.gz
                   DEPENDS ${PROJECT_BINARY_DIR}/nvrst.8 WORKING_DIRECTORY ${PROJECT_BINARY_DIR} VERBATIM)
add_custom_target(manual ALL DEPENDS ${PROJECT_BINARY_DIR}/nvrst.8.gz)

# A hardware administration tool: sbin, section 8.
install(TARGETS nvrst RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
install(FILES ${PROJECT_BINARY_DIR}/nvrst.8.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
install(FILES ${PROJECT_SOURCE_DIR}/driver/tools/nvrst.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME nvrst)
