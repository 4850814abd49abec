# What `cmake --install` lays out under its prefix, and what the Debian
# packages hold (cmake/Package.cmake). Only the programs and their files are
# installed: no test, no library, no header.
#
#   bin/bundlet
#   bin/upliner -> ../lib/upliner/upliner
#   lib/upliner/                  the upgrade tool's own directory: it reads
#                                 Versions.sl and Lifter_<version>/ from there
#   lib/upliner/example/Lifter.exe     the reference upgrade program
#   share/upliner/example/        an example installation: the demo's
#                                 versions, their data folders, links to the
#                                 reference program and a README
#   share/man/man1/{bundlet,upliner}.1.gz
#   share/applications/upliner.desktop
#   share/icons/hicolor/scalable/apps/upliner.svg
#   share/doc/<package>/copyright
#   and in the packages only: share/doc/<package>/changelog.Debian.gz and
#   share/lintian/overrides/<package>
#
# Components, one per package: bundlet, upliner, example.
include(GNUInstallDirs)

# The upgrade tool finds its files beside its own executable (links
# resolved), so it gets a directory of its own rather than a place in bin/.
set(ZO_UPLINER_DIR lib/upliner)
# The reference upgrade program is machine code, which stays out of share/;
# the example's Lifter_<version>/Lifter.exe are links to it.
set(ZO_EXAMPLE_PROGRAM_DIR ${ZO_UPLINER_DIR}/example)
set(ZO_EXAMPLE_DIR ${CMAKE_INSTALL_DATADIR}/upliner/example)

# The release that the manual pages and the packages name: the project's
# version (project() in the top CMakeLists.txt), the Debian revision of its
# packages and its date. A new release changes them and puts its entry on top
# of packaging/changelog.in, writing out the version and date of the entry
# before it.
set(ZO_DEB_RELEASE 1)
set(ZO_RELEASE_DATE 2026-12-10)
set(ZO_MAINTAINER "Upliner and Bundlet maintainers <maintainers@users.noreply.c-seed-2c9a8b7b.example>")
set(ZO_DEB_VERSION ${PROJECT_VERSION}-${ZO_DEB_RELEASE})
# The date as Debian's change log writes it.
execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C date -u -R -d "${ZO_RELEASE_DATE} 12:00:00 UTC"
                OUTPUT_VARIABLE ZO_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)

# Directories that installing creates on the way get the usual mode, whatever
# the umask of the one who installs.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(ZO_PACKAGING_SOURCE ${CMAKE_SOURCE_DIR}/packaging)
set(ZO_PACKAGING_BINARY ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${ZO_PACKAGING_BINARY})

# zo_install_link(<link path below the prefix> <target path below the prefix> <component>)
# Installs a symbolic link with a relative target, so the tree works under any
# prefix and in the scratch root of a test. The link is made in the build tree
# and installed as a file: install() copies a link as a link.
function(zo_install_link link target component)
  foreach(path IN ITEMS ${link} ${target})
    if(IS_ABSOLUTE ${path})
      message(FATAL_ERROR "Install paths must be relative to the prefix: ${path}")
    endif()
  endforeach()
  cmake_path(GET link PARENT_PATH link_dir)
  file(RELATIVE_PATH relative_target /prefix/${link_dir} /prefix/${target})
  set(staged ${ZO_PACKAGING_BINARY}/links/${link})
  cmake_path(GET staged PARENT_PATH staged_dir)
  file(MAKE_DIRECTORY ${staged_dir})
  file(REMOVE ${staged})
  file(CREATE_LINK ${relative_target} ${staged} SYMBOLIC)
  install(FILES ${staged} DESTINATION ${link_dir} COMPONENT ${component})
endfunction()

# zo_gzip_file(<source> <output>): <output> is <source> compressed without a
# name or time stamp, so equal sources give equal packages.
find_program(ZO_GZIP gzip REQUIRED)
function(zo_gzip_file source output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${ZO_GZIP} -9 -n -c ${source} > ${output}
    DEPENDS ${source}
    VERBATIM)
endfunction()

# Manual pages, with the version and date put in, compressed; each goes with
# the package of its program.
set(ZO_MANUAL_PAGES bundlet)
if(TARGET upliner)
  list(APPEND ZO_MANUAL_PAGES upliner)
endif()
set(zo_packaging_outputs)
foreach(page IN LISTS ZO_MANUAL_PAGES)
  configure_file(${ZO_PACKAGING_SOURCE}/${page}.1.in ${ZO_PACKAGING_BINARY}/${page}.1 @ONLY)
  zo_gzip_file(${ZO_PACKAGING_BINARY}/${page}.1 ${ZO_PACKAGING_BINARY}/${page}.1.gz)
  list(APPEND zo_packaging_outputs ${ZO_PACKAGING_BINARY}/${page}.1.gz)
  install(FILES ${ZO_PACKAGING_BINARY}/${page}.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${page})
endforeach()

# zo_install_package_docs(<package> <component>): the copyright file, and
# what only the Debian package holds: its change log and lintian's overrides.
function(zo_install_package_docs package component)
  set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/${package})
  install(FILES ${ZO_PACKAGING_SOURCE}/copyright DESTINATION ${doc_dir} COMPONENT ${component})

  set(ZO_DEB_PACKAGE ${package})
  set(changelog ${ZO_PACKAGING_BINARY}/${package}/changelog.Debian)
  configure_file(${ZO_PACKAGING_SOURCE}/changelog.in ${changelog} @ONLY)
  zo_gzip_file(${changelog} ${changelog}.gz)
  set(zo_packaging_outputs ${zo_packaging_outputs} ${changelog}.gz PARENT_SCOPE)
  # EXCLUDE_FROM_ALL leaves them out of a plain `cmake --install`; the
  # package build installs each component by name and so gets them.
  install(FILES ${changelog}.gz DESTINATION ${doc_dir} COMPONENT ${component} EXCLUDE_FROM_ALL)
  install(FILES ${ZO_PACKAGING_SOURCE}/lintian-overrides RENAME ${package}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides COMPONENT ${component} EXCLUDE_FROM_ALL)
endfunction()

# ---- bundlet ---------------------------------------------------------------------
install(TARGETS bundlet RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT bundlet)
zo_install_package_docs(bundlet bundlet)

# ---- upliner and its example installation ---------------------------------------
if(TARGET upliner)
  install(TARGETS upliner RUNTIME DESTINATION ${ZO_UPLINER_DIR} COMPONENT upliner)
  zo_install_link(${CMAKE_INSTALL_BINDIR}/upliner ${ZO_UPLINER_DIR}/upliner upliner)
  install(FILES ${ZO_PACKAGING_SOURCE}/upliner.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT upliner)
  install(FILES ${ZO_PACKAGING_SOURCE}/upliner.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT upliner)
  zo_install_package_docs(upliner upliner)

  # The example is the demo's installation: its versions, in the order of
  # its Versions.sl, each with a link to the reference program.
  install(TARGETS lifter RUNTIME DESTINATION ${ZO_EXAMPLE_PROGRAM_DIR} COMPONENT example)
  set(demo ${CMAKE_SOURCE_DIR}/demo)
  install(FILES ${demo}/Versions.sl ${demo}/LicenceNumber.txt ${demo}/TargetLanguages.txt
                ${demo}/bootstrap.sql ${ZO_PACKAGING_SOURCE}/example/README
          DESTINATION ${ZO_EXAMPLE_DIR} COMPONENT example)
  file(STRINGS ${demo}/Versions.sl zo_example_versions)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${demo}/Versions.sl)
  foreach(version IN LISTS zo_example_versions)
    string(STRIP "${version}" version)
    if(version STREQUAL "")
      continue()
    endif()
    install(DIRECTORY ${demo}/IVersion_${version} DESTINATION ${ZO_EXAMPLE_DIR} COMPONENT example)
    zo_install_link(${ZO_EXAMPLE_DIR}/Lifter_${version}/Lifter.exe
                    ${ZO_EXAMPLE_PROGRAM_DIR}/Lifter.exe example)
  endforeach()
  zo_install_package_docs(upliner-example example)
endif()

add_custom_target(zo_packaging_files ALL DEPENDS ${zo_packaging_outputs})
