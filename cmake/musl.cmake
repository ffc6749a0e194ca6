# SPDX-License-Identifier: MIT
# Toolchain for one fully static nvrst on musl, the C library of small static
# board tools: Debian's g++ for the target (native or cross) with Debian's
# musl-dev for the same architecture. The tool uses only header-only parts of
# the C++ library, so the compiler's C++ headers come first, then its own
# (stddef.h, stdarg.h), then musl's; nothing of libstdc++ or glibc is linked.
#
#   -DNVRST_MUSL_TARGET=x86_64 | armhf | arm64 | s390x
set(NVRST_MUSL_TARGET x86_64 CACHE STRING "Board architecture of the static musl build: x86_64, armhf, arm64 or s390x")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES NVRST_MUSL_TARGET)

# Debian's names for each target: compiler triplet, musl's triplet, the
# architecture to install musl-dev for, CMake's processor, qemu-user's binary.
if(NVRST_MUSL_TARGET STREQUAL x86_64)
  set(gnu x86_64-linux-gnu)
  set(musl x86_64-linux-musl)
  set(deb amd64)
  set(qemu x86_64)
elseif(NVRST_MUSL_TARGET STREQUAL armhf)
  set(gnu arm-linux-gnueabihf)
  set(musl arm-linux-musleabihf)
  set(deb armhf)
  set(qemu arm)
elseif(NVRST_MUSL_TARGET STREQUAL arm64)
  set(gnu aarch64-linux-gnu)
  set(musl aarch64-linux-musl)
  set(deb arm64)
  set(qemu aarch64)
elseif(NVRST_MUSL_TARGET STREQUAL s390x)
  set(gnu s390x-linux-gnu)
  set(musl s390x-linux-musl)
  set(deb s390x)
  set(qemu s390x)
else()
  message(FATAL_ERROR "NVRST_MUSL_TARGET is ${NVRST_MUSL_TARGET}; it must be x86_64, armhf, arm64 or s390x")
endif()

# The host's own compiler when it builds for itself; a cross compiler and
# qemu-user to run the tests otherwise.
execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE host_deb OUTPUT_STRIP_TRAILING_WHITESPACE
                ERROR_QUIET)
if(host_deb STREQUAL deb)
  find_program(compiler NAMES g++ ${gnu}-g++ NO_CACHE)
else()
  set(CMAKE_SYSTEM_NAME Linux)
  set(CMAKE_SYSTEM_PROCESSOR ${qemu})
  find_program(compiler ${gnu}-g++ NO_CACHE)
  find_program(emulator qemu-${qemu} NO_CACHE)
  if(emulator)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${emulator})
  endif()
endif()
# What is missing is said once configure has found the host's compiler
# (CMakeLists.txt stops there): an error here, inside project(), would be
# followed by CMake's own about a compiler and a make program it never
# looked for.
set(libc /usr/lib/${musl})
if(NOT compiler)
  set(NVRST_MUSL_MISSING "No C++ compiler for ${gnu}: apt-get install g++-${gnu}")
elseif(NOT EXISTS ${libc}/libc.a OR NOT EXISTS /usr/include/${musl}/stdio.h)
  if(host_deb STREQUAL deb)
    set(NVRST_MUSL_MISSING "No musl in ${libc}: apt-get install musl-dev")
  else()
    string(CONCAT NVRST_MUSL_MISSING "No musl for ${deb} in ${libc}: dpkg --add-architecture ${deb} && "
                  "apt-get update && apt-get install musl-dev:${deb}")
  endif()
endif()
if(NVRST_MUSL_MISSING)
  unset(CMAKE_SYSTEM_NAME)
  unset(CMAKE_CROSSCOMPILING_EMULATOR)
  return()
endif()
set(CMAKE_CXX_COMPILER ${compiler})
set(NVRST_MUSL ON)
set(NVRST_STATIC ON CACHE BOOL "" FORCE)

# The compiler's C++ include directories, as it lists them itself.
execute_process(COMMAND ${compiler} -xc++ -E -v - INPUT_FILE /dev/null OUTPUT_QUIET ERROR_VARIABLE search)
string(REGEX MATCH "search starts here:\n(.*)End of search list" search "${search}")
string(REGEX MATCHALL "[^ \n]+/c\\+\\+/[^ \n]+" cxx_dirs "${CMAKE_MATCH_1}")
execute_process(COMMAND ${compiler} -print-file-name=include OUTPUT_VARIABLE gcc_include
                OUTPUT_STRIP_TRAILING_WHITESPACE)
# The C++ headers were configured for glibc: they test its version with
# __GLIBC_PREREQ, which musl does not define.
set(includes "-nostdinc '-D__GLIBC_PREREQ(major, minor)=0'")
foreach(dir ${cxx_dirs} ${gcc_include} /usr/include/${musl})
  string(APPEND includes " -isystem ${dir}")
endforeach()
# A board binary carries no unwind tables (nothing unwinds it: no
# exceptions, and a device fault ends in siglongjmp) and no section that
# nothing uses: on aarch64 that keeps it under 48 KiB.
set(CMAKE_CXX_FLAGS_INIT "${includes} -fno-asynchronous-unwind-tables -fno-unwind-tables -ffunction-sections -fdata-sections")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,--gc-sections")

# A static link of musl's start files and C library with the compiler's
# support library, and nothing of the C++ runtime. musl applies no RELRO in
# a static program (only its dynamic loader does), so none is asked for: on
# aarch64 it would pad the file to the next 64 KiB page for nothing.
foreach(file crtbeginT.o crtend.o libgcc.a libgcc_eh.a)
  execute_process(COMMAND ${compiler} -print-file-name=${file} OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  string(MAKE_C_IDENTIFIER ${file} name)
  set(${name} ${path})
endforeach()
if(NOT EXISTS ${libgcc_eh_a})
  set(libgcc_eh_a "")
endif()
set(CMAKE_CXX_LINK_EXECUTABLE
    "<CMAKE_CXX_COMPILER> <FLAGS> <CMAKE_CXX_LINK_FLAGS> <LINK_FLAGS> -static -nostdlib -Wl,-z,norelro ${libc}/crt1.o ${libc}/crti.o ${crtbeginT_o} <OBJECTS> -o <TARGET> <LINK_LIBRARIES> ${libc}/libc.a ${libgcc_a} ${libgcc_eh_a} ${libc}/libc.a ${crtend_o} ${libc}/crtn.o")
