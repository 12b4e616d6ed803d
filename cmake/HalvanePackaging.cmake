# Installable packages of the two microcontroller libraries:
#   find_package(veldra) -> veldra::veldra, find_package(ostrel) -> ostrel::ostrel
# plus a pkg-config file for each (lib/pkgconfig/veldra.pc, ostrel.pc).
# The libraries install their targets into the export sets veldraTargets and
# ostrelTargets; this file installs those sets and the package files.
include(CMakePackageConfigHelpers)

# Version of the libraries' interface, as their version texts report it.
set(HALVANE_LIBRARY_VERSION 2.0.0)

function(halvane_package_library name description)
  if(NOT TARGET ${name})
    return()
  endif()
  set(config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/${name})
  set(staging ${CMAKE_BINARY_DIR}/packaging/${name})
  install(EXPORT ${name}Targets NAMESPACE ${name}:: DESTINATION ${config_dir})
  configure_package_config_file(
    ${PROJECT_SOURCE_DIR}/cmake/${name}Config.cmake.in
    ${staging}/${name}Config.cmake
    INSTALL_DESTINATION ${config_dir})
  write_basic_package_version_file(${staging}/${name}ConfigVersion.cmake
    VERSION ${HALVANE_LIBRARY_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${staging}/${name}Config.cmake ${staging}/${name}ConfigVersion.cmake
          DESTINATION ${config_dir})

  # The archives are static and call the math library, so -lm is listed
  # with them (on the microcontroller newlib's libm provides it).
  set(PC_DESCRIPTION "${description}")
  # The .pc file finds the prefix relative to itself, so the tree can move.
  file(RELATIVE_PATH PC_PREFIX_FROM_PCDIR /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
  string(REGEX REPLACE "/$" "" PC_PREFIX_FROM_PCDIR "${PC_PREFIX_FROM_PCDIR}")
  set(PC_VERSION ${HALVANE_LIBRARY_VERSION})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/${name}.pc.in ${staging}/${name}.pc @ONLY)
  install(FILES ${staging}/${name}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endfunction()

halvane_package_library(veldra
  "Two-microphone beamforming for a microcontroller (PDM or PCM in, one directional 16 kHz signal out)")
halvane_package_library(ostrel
  "Acoustic echo cancellation, noise suppression and gain control for a microcontroller")
