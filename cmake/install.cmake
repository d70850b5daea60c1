# Install rules of the library: the shared library (with its SONAME and
# version links on Linux; the DLL and its import library on Windows), every
# public header of include/, a pkg-config file and a CMake package whose
# imported target is zelpost::zelpost. The programs install themselves
# (src/programs).
include(CMakePackageConfigHelpers)

install(TARGETS zelpost EXPORT zelpostTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h")

# CMake package: find_package(zelpost) in lib/cmake/zelpost.
set(zel_package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/zelpost)
install(EXPORT zelpostTargets NAMESPACE zelpost:: DESTINATION ${zel_package_dir})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/zelpostConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_SOURCE_DIR}/cmake/zelpostConfig.cmake
  ${CMAKE_BINARY_DIR}/zelpostConfigVersion.cmake DESTINATION ${zel_package_dir})

# pkg-config file. Its prefix is the one installed to, which
# `cmake --install --prefix` may choose after configuring: the file is
# written at install time from a template that keeps @ZEL_PC_PREFIX@.
foreach(kind LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
    set(ZEL_PC_${kind} "${CMAKE_INSTALL_${kind}}")
  else()
    set(ZEL_PC_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
  endif()
endforeach()
set(ZEL_PC_PREFIX "@ZEL_PC_PREFIX@")
configure_file(${CMAKE_SOURCE_DIR}/cmake/zelpost.pc.in ${CMAKE_BINARY_DIR}/zelpost.pc.in @ONLY)
install(CODE "
  set(ZEL_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  configure_file(\"${CMAKE_BINARY_DIR}/zelpost.pc.in\" \"${CMAKE_BINARY_DIR}/zelpost.pc\" @ONLY)
")
install(FILES ${CMAKE_BINARY_DIR}/zelpost.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
