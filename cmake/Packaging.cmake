# The release package of the Windows builds: a ZIP of the kit template (a
# commented Quorvex.ini, an empty SRC folder and README.txt) with both
# variants of the programs, x86\Quorvex.exe and x86\QuorvexKit.exe from the
# 32-bit build, x64\... from the 64-bit one, made by CPack. scripts/release
# builds both and runs it from the 64-bit build, naming the 32-bit build's
# folder in QUORVEX_X86_BUILD_DIR; the executables are signed in the staging
# folder before zipping when QUORVEX_SIGN_CERT and QUORVEX_SIGN_KEY are set
# (cmake/SignKit.cmake). Included by the top-level CMakeLists.txt for the
# Windows builds only.

if(PROJECT_VERSION)
  set(QUORVEX_VERSION "${PROJECT_VERSION}")
else()
  set(QUORVEX_VERSION "1.0.0")
endif()

set(QUORVEX_PACKAGE_NAME "Quorvex-${QUORVEX_VERSION}-windows")

# The template files, with Windows line ends.
set(QUORVEX_PACKAGING_DIR "${CMAKE_BINARY_DIR}/packaging")
configure_file("${CMAKE_SOURCE_DIR}/packaging/Quorvex.ini"
               "${QUORVEX_PACKAGING_DIR}/Quorvex.ini" @ONLY NEWLINE_STYLE CRLF)
configure_file("${CMAKE_SOURCE_DIR}/packaging/README.txt"
               "${QUORVEX_PACKAGING_DIR}/README.txt" @ONLY NEWLINE_STYLE CRLF)

# The template is the component "kit", each build's programs the component
# "programs"; the package holds only those, whatever else the project
# installs.
install(FILES "${QUORVEX_PACKAGING_DIR}/Quorvex.ini" "${QUORVEX_PACKAGING_DIR}/README.txt"
        DESTINATION . COMPONENT kit)
install(DIRECTORY DESTINATION SRC COMPONENT kit)

# What an administrator reads before deploying, and the notices of what is
# linked into the programs: GCC's runtime (libgcc, libstdc++: GPL 3 with the
# GCC Runtime Library Exception) and the MinGW-w64 runtime (the CRT,
# winpthreads), as Debian's packages of the toolchain state them.
install(FILES "${CMAKE_SOURCE_DIR}/docs/deployment.md" DESTINATION docs COMPONENT kit)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -dumpfullversion OUTPUT_VARIABLE QUORVEX_GCC_VERSION
                OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
execute_process(COMMAND dpkg-query -W "-f=mingw-w64 \${Version}" mingw-w64-common
                OUTPUT_VARIABLE QUORVEX_MINGW_VERSION ERROR_QUIET)
configure_file("${CMAKE_SOURCE_DIR}/packaging/licenses/README.txt"
               "${QUORVEX_PACKAGING_DIR}/licenses/README.txt" @ONLY NEWLINE_STYLE CRLF)
install(FILES "${QUORVEX_PACKAGING_DIR}/licenses/README.txt" DESTINATION licenses COMPONENT kit)
foreach(notice IN ITEMS
        "gcc-mingw-w64-base/copyright;gcc-runtime.txt"
        "mingw-w64-common/copyright;mingw-w64-runtime.txt")
  list(GET notice 0 source)
  list(GET notice 1 name)
  if(EXISTS "/usr/share/doc/${source}")
    install(FILES "/usr/share/doc/${source}" DESTINATION licenses RENAME ${name} COMPONENT kit)
  else()
    message(WARNING "The release lacks licenses/${name}: /usr/share/doc/${source} is missing")
  endif()
endforeach()
if(EXISTS /usr/share/common-licenses/GPL-3)
  install(FILES /usr/share/common-licenses/GPL-3 DESTINATION licenses RENAME GPL-3.txt COMPONENT kit)
endif()

# QuorvexKit for vendors who build kits on Linux: the native build's, when
# scripts/release names it.
set(QUORVEX_LINUX_KIT "" CACHE FILEPATH "The Linux QuorvexKit that the release package takes")
if(QUORVEX_LINUX_KIT)
  install(PROGRAMS "${QUORVEX_LINUX_KIT}" DESTINATION linux COMPONENT kit)
  configure_file("${CMAKE_SOURCE_DIR}/packaging/linux/README.txt"
                 "${QUORVEX_PACKAGING_DIR}/linux/README.txt" @ONLY)
  install(FILES "${QUORVEX_PACKAGING_DIR}/linux/README.txt" DESTINATION linux COMPONENT kit)
endif()

# The programs, once every target of the project is defined; scripts/release
# reads which ones there are, the version and the package name from
# packaging/release.env.
function(quorvex_install_kit_programs)
  set(programs Quorvex)
  if(TARGET QuorvexKit)
    list(APPEND programs QuorvexKit)
  endif()
  install(TARGETS ${programs} RUNTIME DESTINATION . COMPONENT programs)
  list(JOIN programs " " programs)
  file(WRITE "${QUORVEX_PACKAGING_DIR}/release.env"
       "version=${QUORVEX_VERSION}\npackage=${QUORVEX_PACKAGE_NAME}\nprograms=\"${programs}\"\n")
endfunction()
cmake_language(DEFER CALL quorvex_install_kit_programs)

# Packaging builds nothing itself: scripts/release builds the two programs
# and no test.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Quorvex)
set(CPACK_PACKAGE_VENDOR Veltrane)
set(CPACK_PACKAGE_VERSION "${QUORVEX_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Installs or updates the manual of an installed product")
set(CPACK_PACKAGE_FILE_NAME "${QUORVEX_PACKAGE_NAME}")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(QUORVEX_X86_BUILD_DIR "${CMAKE_SOURCE_DIR}/build/win32" CACHE PATH
    "The 32-bit Windows build whose programs the release package takes")
set(CPACK_INSTALL_CMAKE_PROJECTS
    "${CMAKE_BINARY_DIR};Quorvex;kit;/"
    "${QUORVEX_X86_BUILD_DIR};Quorvex;programs;/x86"
    "${CMAKE_BINARY_DIR};Quorvex;programs;/x64")
set(CPACK_STRIP_FILES ON)
set(CPACK_PRE_BUILD_SCRIPTS "${CMAKE_SOURCE_DIR}/cmake/SignKit.cmake"
                             "${CMAKE_SOURCE_DIR}/cmake/Checksums.cmake")
include(CPack)
