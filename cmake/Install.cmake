# What `cmake --install` puts under the prefix (and the .deb carries): the
# kestrix command, libkestrix.so (server and C++ interface) with its headers,
# CMake package and pkg-config file, the Python package, and the man page.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS kestrix RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS kestrix_server EXPORT KestrixTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES include/kestrix/kestrix.hpp include/kestrix/enumerations.hpp include/kestrix/errors.hpp
              ${KESTRIX_GENERATED_INCLUDE_DIR}/kestrix/version.hpp
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kestrix)

set(cmakeDir ${CMAKE_INSTALL_LIBDIR}/cmake/Kestrix)
install(EXPORT KestrixTargets NAMESPACE Kestrix:: DESTINATION ${cmakeDir})
configure_package_config_file(cmake/KestrixConfig.cmake.in ${PROJECT_BINARY_DIR}/KestrixConfig.cmake
                              INSTALL_DESTINATION ${cmakeDir})
# Programs built against 1.x run with any later 1.y: the soname changes with the major version.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/KestrixConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/KestrixConfig.cmake ${PROJECT_BINARY_DIR}/KestrixConfigVersion.cmake
        DESTINATION ${cmakeDir})

# The pkg-config file finds the prefix from where it lies, so the tree may be
# installed anywhere (cmake --install --prefix, dpkg -x).
file(RELATIVE_PATH KESTRIX_PC_PREFIX_FROM_PCDIR /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" KESTRIX_PC_PREFIX_FROM_PCDIR "${KESTRIX_PC_PREFIX_FROM_PCDIR}")
configure_file(cmake/kestrix.pc.in ${PROJECT_BINARY_DIR}/kestrix.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/kestrix.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The man page (compressed, without a timestamp) and the README.
find_program(KESTRIX_GZIP gzip)
if(KESTRIX_GZIP)
  set(manPage ${PROJECT_BINARY_DIR}/kestrix.1.gz)
  add_custom_command(OUTPUT ${manPage}
    COMMAND ${KESTRIX_GZIP} -9nc ${PROJECT_SOURCE_DIR}/docs/kestrix.1 > ${manPage}
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/kestrix.1
    COMMENT "Compressing the man page")
  # Debian's changelog of a native package, from the version.
  configure_file(cmake/changelog.in ${PROJECT_BINARY_DIR}/changelog @ONLY)
  set(changelog ${PROJECT_BINARY_DIR}/changelog.gz)
  add_custom_command(OUTPUT ${changelog}
    COMMAND ${KESTRIX_GZIP} -9nc ${PROJECT_BINARY_DIR}/changelog > ${changelog}
    DEPENDS ${PROJECT_BINARY_DIR}/changelog
    COMMENT "Compressing the changelog")
  add_custom_target(kestrix_man ALL DEPENDS ${manPage} ${changelog})
  install(FILES ${manPage} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${changelog} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/kestrix)
endif()
# Debian keeps them under the package name.
install(FILES README.md cmake/copyright DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/kestrix)

include(cmake/Packaging.cmake)
