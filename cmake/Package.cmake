# Debian packages of the programs through CPack: `cpack -G DEB` in the build
# tree gives one package per component of cmake/Install.cmake:
#
#   bundlet           the console zip tool
#   upliner           the upgrade tool, its desktop entry and icon
#   upliner-example   an example installation of the upgrade tool
#
# Library dependencies come from dpkg-shlibdeps; lintian finds no errors in
# the packages (tests/packaging checks both).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME upliner-bundlet)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${ZO_MAINTAINER})
set(CPACK_PACKAGE_VENDOR "The Upliner and Bundlet developers")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL bundlet)
if(TARGET upliner)
  list(APPEND CPACK_COMPONENTS_ALL upliner example)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${ZO_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

# The first line of a description is the package's summary, the rest its
# long description.
set(CPACK_DEBIAN_BUNDLET_PACKAGE_NAME bundlet)
set(CPACK_DEBIAN_BUNDLET_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_BUNDLET_DESCRIPTION [=[console tool that packs directories into ZIP archives and unpacks them
Bundlet packs a directory, or chosen files and subdirectories of several
directories, into a ZIP archive, or unpacks a ZIP archive into a directory,
on its own ZIP engine: deflate, transactions, recovery of damaged archives.
It is meant to be started by installers and scripts: it prints nothing on
success, one error text on failure, and always ends with exit code 0.]=])

set(CPACK_DEBIAN_UPLINER_PACKAGE_NAME upliner)
set(CPACK_DEBIAN_UPLINER_PACKAGE_SECTION admin)
# The window needs a Qt platform plugin, which Qt loads at run time, so
# dpkg-shlibdeps cannot see it.
set(CPACK_DEBIAN_UPLINER_PACKAGE_DEPENDS qt6-qpa-plugins)
# The ODBC driver registered as "SQL Server": FreeTDS for SQL Server, or
# PostgreSQL's driver as in the example; unixODBC's tools to register it.
set(CPACK_DEBIAN_UPLINER_PACKAGE_RECOMMENDS "odbc-postgresql | tdsodbc, unixodbc")
set(CPACK_DEBIAN_UPLINER_DESCRIPTION [=[desktop tool that upgrades an application's SQL Server database
Upliner is a one-window desktop tool with which an administrator brings a
business application's database up to a newer version, one version at a
time, and adds or removes its languages, archive support and
external-database support. It reads the database's version stamp through
ODBC, refuses tampered, beta or damaged databases, runs the application's
upgrade program Lifter.exe once per version and reports line by line.]=])

set(CPACK_DEBIAN_EXAMPLE_PACKAGE_NAME upliner-example)
set(CPACK_DEBIAN_EXAMPLE_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_EXAMPLE_PACKAGE_DEPENDS "upliner (= ${ZO_DEB_VERSION})")
set(CPACK_DEBIAN_EXAMPLE_DESCRIPTION [=[example installation of the Upliner database upgrade tool
A complete installation of the upgrade tool for a small demo application
with four database versions: the list of versions, each version's SQL
scripts and the reference upgrade program Lifter.exe that runs them, with
a README on how to lay out a real installation. Its scripts are written
for PostgreSQL.]=])

include(CPack)
