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

# Skips a sub-folder that has no CMakeLists.txt yet, so that parts of the
# tree can grow independently.
function(halvane_add_subdirectories)
  foreach(dir IN LISTS ARGN)
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      add_subdirectory(${dir})
    endif()
  endforeach()
endfunction()

# Options of the microcontroller libraries: no exceptions, no RTTI, each
# function in its own section so the firmware link drops what it does not use.
function(halvane_mcu_options target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>
    -ffunction-sections -fdata-sections)
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
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    set(labels ${label})
    if(name MATCHES "_slow$")
      list(APPEND labels slow)
    endif()
    add_test(NAME ${target} COMMAND ${target} WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
    set_tests_properties(${target} PROPERTIES LABELS "${labels}")
  endforeach()
endfunction()
