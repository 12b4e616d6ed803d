include(GNUInstallDirs)

# Warnings are errors everywhere; sanitizers are switched on for the whole
# tree so that libraries, tools and tests are instrumented alike.
if(CMAKE_C_COMPILER_ID MATCHES "GNU|Clang")
  add_compile_options(-Wall -Wextra -Werror)
endif()

if(HALVANE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

# Fuzzing: every object carries the coverage hooks and both sanitizers; only
# the fuzz targets link the libFuzzer driver.
if(HALVANE_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "HALVANE_FUZZ needs clang (CXX=clang++-14): libFuzzer is part of clang")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=all -g)
  add_link_options(-fsanitize=address,undefined)
endif()

# Adds the listed sub-folders; a listed folder without a CMakeLists.txt is
# an error, so that a missing part never drops out of the build unnoticed.
function(halvane_add_subdirectories)
  foreach(dir IN LISTS ARGN)
    if(NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      message(FATAL_ERROR "${CMAKE_CURRENT_SOURCE_DIR}/${dir} has no CMakeLists.txt")
    endif()
    add_subdirectory(${dir})
  endforeach()
endfunction()

# Options of the microcontroller libraries: no exceptions, no RTTI, each
# function in its own section so the firmware link drops what it does not use.
function(halvane_mcu_options target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>
    -ffunction-sections -fdata-sections)
endfunction()

# A microcontroller library: the listed sources plus the shared DSP objects
# in one archive (the firmware links a single library per feature), public
# header folder include/, namespaced alias, install rules. The sources are
# listed, not globbed, so that a stray file never ships in the archive.
function(halvane_mcu_library name)
  add_library(${name} STATIC ${ARGN} $<TARGET_OBJECTS:ostrel_dsp>)
  add_library(${name}::${name} ALIAS ${name})
  target_include_directories(${name}
    PUBLIC
      $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>
      $<INSTALL_INTERFACE:include>
    PRIVATE
      ${CMAKE_CURRENT_SOURCE_DIR}
      ${PROJECT_SOURCE_DIR}/ostrel/dsp)
  halvane_mcu_options(${name})
  if(NOT CMAKE_CROSSCOMPILING)
    target_link_libraries(${name} PUBLIC m)
  endif()
  install(TARGETS ${name} EXPORT ${name}Targets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(FILES include/${name}.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
endfunction()

# Registers a built test executable with CTest: output in build/tests, run
# from the calling folder's build directory, labelled with the given label
# and with "slow" when its source name ends in _slow (the sanitizer pass
# leaves those out).
function(halvane_register_test target name label)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  set(labels ${label})
  if(name MATCHES "_slow$")
    list(APPEND labels slow)
  endif()
  add_test(NAME ${target} COMMAND ${target} WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  set_tests_properties(${target} PROPERTIES LABELS "${labels}")
endfunction()

# One GoogleTest executable per test_*.cpp in the calling folder, linked
# against the given libraries. A file ending in _slow.cpp is labelled slow
# (left out of the sanitizer pass) as well as with the folder's label.
function(halvane_glob_gtests label)
  cmake_parse_arguments(ARG "" "" "LIBS;INCLUDES" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/test_*.cpp)
  foreach(src IN LISTS sources)
    get_filename_component(name ${src} NAME_WE)
    file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR}/tests ${CMAKE_CURRENT_SOURCE_DIR})
    string(REPLACE "/" "_" rel "${rel}")
    set(target ${rel}_${name})
    add_executable(${target} ${src})
    target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest_main)
    target_include_directories(${target} PRIVATE ${ARG_INCLUDES})
    halvane_register_test(${target} ${name} ${label})
  endforeach()
endfunction()
