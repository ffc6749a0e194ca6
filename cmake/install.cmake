# SPDX-License-Identifier: MIT
# Installation (GNU layout): the program, its manual page and its bash
# completion. The Debian package is built from debian/.
include(GNUInstallDirs)

# Whatever the builder's umask, what is installed has the usual
# permissions: directories 755, files 644, the program 755. install() sets
# the files' modes itself, but makes the directories it needs with mkdir,
# whose mode the umask cuts (CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
# only narrows it further). So the directories the installation is about to
# make, DESTDIR's and the prefix's included, are noted first and set to 755
# at its end; those that were there already keep their modes.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(destinations ${CMAKE_INSTALL_SBINDIR} ${CMAKE_INSTALL_MANDIR}/man8
    ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(CODE "set(nvrst_destinations [[${destinations}]])")
install(CODE [[
  set(nvrst_new_dirs)
  foreach(dir IN LISTS nvrst_destinations)
    if(NOT IS_ABSOLUTE "${dir}")
      set(dir "${CMAKE_INSTALL_PREFIX}/${dir}")
    endif()
    set(dir "$ENV{DESTDIR}${dir}")
    while(NOT dir STREQUAL "" AND NOT EXISTS "${dir}")
      list(FIND nvrst_new_dirs "${dir}" seen)
      if(NOT seen EQUAL -1)
        break()
      endif()
      list(APPEND nvrst_new_dirs "${dir}")
      get_filename_component(dir "${dir}" DIRECTORY)
    endwhile()
  endforeach()
]])

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
# Last: the directories made above, 755.
install(CODE [[
  if(nvrst_new_dirs)
    file(CHMOD ${nvrst_new_dirs} DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})
  endif()
]])
