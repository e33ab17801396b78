# Installation: the static library, the public headers and what an outside project needs to
# use them (a CMake package with the namespaced target vcflexalign::vcflexalign, and a
# pkg-config file). Both are relocatable: `cmake --install build --prefix P` may pick any P.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# One include folder holds the public headers and, under their own relative paths, every
# header of the source tree that they reach, so their `#include "platform/..."` lines resolve.
set(VCFLEX_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/vcflexalign)
target_include_directories(vcflexalign INTERFACE $<INSTALL_INTERFACE:${VCFLEX_INSTALL_INCLUDEDIR}>)

# Headers reached through quoted includes from `roots`, as paths relative to the source tree.
# The archive and the recorder are not reached from the public headers but are needed to save
# patterns and to record diagnostics.
function(vcflex_header_closure out)
  set(todo ${ARGN})
  set(seen)
  while(todo)
    list(POP_FRONT todo h)
    if(h IN_LIST seen)
      continue()
    endif()
    list(APPEND seen ${h})
    file(STRINGS ${CMAKE_SOURCE_DIR}/${h} lines REGEX "^#include \"")
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" inc "${line}")
      if(EXISTS ${CMAKE_SOURCE_DIR}/include/${inc})
        list(APPEND todo include/${inc})
      elseif(EXISTS ${CMAKE_SOURCE_DIR}/${inc})
        list(APPEND todo ${inc})
      else()
        message(FATAL_ERROR "${h}: included header ${inc} is not in the source tree")
      endif()
    endforeach()
  endwhile()
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

file(GLOB VCFLEX_PUBLIC_HEADERS RELATIVE ${CMAKE_SOURCE_DIR} CONFIGURE_DEPENDS
     ${CMAKE_SOURCE_DIR}/include/*.h)
vcflex_header_closure(VCFLEX_INSTALLED_HEADERS ${VCFLEX_PUBLIC_HEADERS}
                      platform/core/vcArchive.h platform/diag/vcDiag.h)
foreach(h IN LISTS VCFLEX_INSTALLED_HEADERS)
  if(h MATCHES "^include/")
    set(dest ${VCFLEX_INSTALL_INCLUDEDIR})
  else()
    get_filename_component(dir ${h} DIRECTORY)
    set(dest ${VCFLEX_INSTALL_INCLUDEDIR}/${dir})
  endif()
  install(FILES ${h} DESTINATION ${dest})
endforeach()

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
