# Debian packages of the install components (make package), built with
# CPack from a tree configured for prefix /usr:
#   libquorvane6     the engine and the virtual drive (shared libraries)
#   libquorvane-dev  headers, static library, quorvane.pc, find_package(Quorvane)
#   quorvane         the command, its manual page and bash completion
# dpkg-shlibdeps finds what the libraries and the command need from the
# system; the packages' needs of each other are stated here.
if(WIN32)
  return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvane)
set(CPACK_PACKAGE_VENDOR Quorvane)
set(CPACK_PACKAGE_CONTACT "Quorvane developers <quorvane@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "CD/DVD recording, grabbing and mastering engine")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev cli)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The command's own libraries are resolved in the tree being packaged.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://quorvane.invalid/")
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libquorvane6)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# A shlibs file for packages built against it, and the ldconfig trigger.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "CD/DVD recording, grabbing and mastering engine - shared libraries
 The engine with its C API (libquorvane.so.6) and the emulated MMC recorder
 (libquorvane_vdrive.so) that virtual drives run on.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libquorvane-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DEPENDS runtime)
set(CPACK_COMPONENT_DEV_DESCRIPTION "CD/DVD recording, grabbing and mastering engine - development files
 Headers, the static library, quorvane.pc for pkg-config and the CMake
 package (find_package(Quorvane), target Quorvane::quorvane).")

set(CPACK_DEBIAN_CLI_PACKAGE_NAME quorvane)
set(CPACK_COMPONENT_CLI_DEPENDS runtime)
set(CPACK_DEBIAN_CLI_PACKAGE_SUGGESTS bash-completion)
set(CPACK_COMPONENT_CLI_DESCRIPTION "CD/DVD recording, grabbing and mastering from the shell
 Burns folders, audio and images onto CDs and DVDs, erases and formats
 rewritable discs, makes ISO9660 and UDF images, and runs virtual drives.")

include(CPack)
