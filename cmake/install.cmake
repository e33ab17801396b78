# Installation: the static library, the public headers and what an outside project needs to
# use them (a CMake package with the namespaced target vcflexalign::vcflexalign, and a
# pkg-config file). Both are relocatable: `cmake --install build --prefix P` may pick any P.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The include folder as it is: the public headers and, under platform/, the platform headers
# they include (reached as `platform/core/...` from the library's sources alike), the archive
# and the recorder, which users need to save patterns and to record diagnostics.
set(VCFLEX_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/vcflexalign)
target_include_directories(vcflexalign INTERFACE $<INSTALL_INTERFACE:${VCFLEX_INSTALL_INCLUDEDIR}>)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/include/ DESTINATION ${VCFLEX_INSTALL_INCLUDEDIR}
        FILES_MATCHING PATTERN "*.h")

# The same name in the build tree as in the installed package.
add_library(vcflexalign::vcflexalign ALIAS vcflexalign)

set(VCFLEX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/vcflexalign)
install(TARGETS vcflexalign EXPORT vcflexalignTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(EXPORT vcflexalignTargets NAMESPACE vcflexalign:: DESTINATION ${VCFLEX_CMAKE_DIR})
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/vcflexalignConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/vcflexalignConfig.cmake
                              INSTALL_DESTINATION ${VCFLEX_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/vcflexalignConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/vcflexalignConfig.cmake
              ${CMAKE_BINARY_DIR}/vcflexalignConfigVersion.cmake DESTINATION ${VCFLEX_CMAKE_DIR})

file(RELATIVE_PATH VCFLEX_PC_TO_PREFIX /p/${CMAKE_INSTALL_LIBDIR}/pkgconfig /p)
configure_file(${CMAKE_SOURCE_DIR}/cmake/vcflexalign.pc.in ${CMAKE_BINARY_DIR}/vcflexalign.pc
               @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/vcflexalign.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The flexalign command, in the prefix's bin folder.
install(TARGETS flexalign RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
