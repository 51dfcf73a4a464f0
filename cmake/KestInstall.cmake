# Installs the library, its public headers, a CMake package (find_package(KestCommon CONFIG)) and a
# pkg-config file.
include(CMakePackageConfigHelpers)

foreach(header IN LISTS KEST_PUBLIC_HEADERS)
  get_filename_component(dir ${header} DIRECTORY)
  install(FILES ${header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${dir})
endforeach()

install(TARGETS KestCommon EXPORT KestCommonTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})

set(KEST_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/KestCommon)
install(EXPORT KestCommonTargets NAMESPACE KestCommon:: DESTINATION ${KEST_CMAKE_DIR})
configure_package_config_file(cmake/KestCommonConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/KestCommonConfig.cmake INSTALL_DESTINATION ${KEST_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/KestCommonConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/KestCommonConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/KestCommonConfigVersion.cmake
              cmake/KestStringTables.cmake
              tools/kest_rc.py
              kest/resources/kest_common.rc
        DESTINATION ${KEST_CMAKE_DIR})

# A static library's users must not see dllimport (or ELF visibility) markings.
if(BUILD_SHARED_LIBS)
  set(KEST_PC_DEFINES "")
else()
  set(KEST_PC_DEFINES " -DKEST_STATIC")
endif()
configure_file(cmake/KestCommon.pc.in ${CMAKE_CURRENT_BINARY_DIR}/KestCommon.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/KestCommon.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
