# Cross build for an Arm Cortex-M7 with single-precision FPU, bare metal,
# with Debian's gcc-arm-none-eabi and newlib:
#   cmake -S . -B build-m7 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/arm-cortex-m7.cmake
# The top level then builds the two static libraries only.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(HALVANE_M7_PREFIX arm-none-eabi- CACHE STRING "Prefix of the cross tools")
set(CMAKE_C_COMPILER ${HALVANE_M7_PREFIX}gcc)
set(CMAKE_CXX_COMPILER ${HALVANE_M7_PREFIX}g++)
set(CMAKE_ASM_COMPILER ${HALVANE_M7_PREFIX}gcc)
set(CMAKE_AR ${HALVANE_M7_PREFIX}ar CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB ${HALVANE_M7_PREFIX}ranlib CACHE FILEPATH "Archive indexer")
set(CMAKE_OBJCOPY ${HALVANE_M7_PREFIX}objcopy CACHE FILEPATH "Object copier")
set(CMAKE_SIZE ${HALVANE_M7_PREFIX}size CACHE FILEPATH "Size tool")

# Compiler checks link nothing: there is no start-up code at that stage.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(HALVANE_M7_CPU_FLAGS "-mcpu=cortex-m7 -mfpu=fpv5-sp-d16 -mfloat-abi=hard -mthumb")

# By default every float multiply and add is rounded on its own, as in the
# x86-64 host build, so the target computes bit for bit what the host tests
# check. Fused multiply-adds (VFMA) save a few per cent of the instructions
# but make results differ from the host's in the last bits.
set(HALVANE_M7_FUSED_MULTIPLY_ADD OFF CACHE BOOL "Let the compiler fuse float multiply-adds")
if(HALVANE_M7_FUSED_MULTIPLY_ADD)
  string(APPEND HALVANE_M7_CPU_FLAGS " -ffp-contract=fast")
else()
  string(APPEND HALVANE_M7_CPU_FLAGS " -ffp-contract=off")
endif()

set(CMAKE_C_FLAGS_INIT "${HALVANE_M7_CPU_FLAGS} -ffunction-sections -fdata-sections")
set(CMAKE_CXX_FLAGS_INIT
    "${HALVANE_M7_CPU_FLAGS} -ffunction-sections -fdata-sections -fno-exceptions -fno-rtti -fno-threadsafe-statics -fno-use-cxa-atexit")
set(CMAKE_ASM_FLAGS_INIT "${HALVANE_M7_CPU_FLAGS}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${HALVANE_M7_CPU_FLAGS} -Wl,--gc-sections")

# Search headers and libraries in the cross environment only, programs on
# the build machine.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
