include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Three components, one Debian package each (cmake/QuorvanePackage.cmake):
# runtime (the shared libraries), dev (headers, the static library, the
# pkg-config and CMake files) and cli (the command, its manual page and
# completion).
install(TARGETS quorvane quorvane_static EXPORT QuorvaneTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
install(FILES include/quorvane.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
install(DIRECTORY include/quorvane DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
install(EXPORT QuorvaneTargets NAMESPACE Quorvane:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Quorvane COMPONENT dev)

file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/QuorvaneConfig.cmake.in
  "@PACKAGE_INIT@\ninclude(CMakeFindDependencyMacro)\nfind_dependency(Threads)\ninclude(\"\${CMAKE_CURRENT_LIST_DIR}/QuorvaneTargets.cmake\")\n")
configure_package_config_file(${CMAKE_CURRENT_BINARY_DIR}/QuorvaneConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/QuorvaneConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Quorvane)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/QuorvaneConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/QuorvaneConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/QuorvaneConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Quorvane COMPONENT dev)

configure_file(${CMAKE_CURRENT_SOURCE_DIR}/cmake/quorvane.pc.in ${CMAKE_CURRENT_BINARY_DIR}/quorvane.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quorvane.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

include(cmake/QuorvanePackage.cmake)
