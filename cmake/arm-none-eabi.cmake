# Cross build for the TM4C123GH6PM (Cortex-M4F) with Debian's arm-none-eabi toolchain.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(CMAKE_C_COMPILER arm-none-eabi-gcc)
set(CMAKE_CXX_COMPILER arm-none-eabi-g++)
set(CMAKE_ASM_COMPILER arm-none-eabi-gcc)
set(CMAKE_OBJCOPY arm-none-eabi-objcopy CACHE FILEPATH "")
set(CMAKE_SIZE arm-none-eabi-size CACHE FILEPATH "")
set(CMAKE_NM arm-none-eabi-nm CACHE FILEPATH "")

# No host libraries can link here; probe compilers with a static library.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(cpu_flags "-mcpu=cortex-m4 -mthumb -mfpu=fpv4-sp-d16 -mfloat-abi=hard")
# nano.specs on compile too, so the headers match newlib-nano.
set(CMAKE_C_FLAGS_INIT "${cpu_flags} -ffunction-sections -fdata-sections --specs=nano.specs")
# Stack use and call graph of every function, for the images' stack figures.
set(CMAKE_CXX_FLAGS_INIT "${cpu_flags} -ffunction-sections -fdata-sections -fno-exceptions -fno-rtti -fno-threadsafe-statics --specs=nano.specs -fcallgraph-info=su")
set(CMAKE_ASM_FLAGS_INIT "${cpu_flags}")
# CMake passes the compile flags (nano.specs included) to the link as well.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,--gc-sections")

# Debug information for a debugger on the image; the flash holds the same
# code without it.
set(CMAKE_C_FLAGS_MINSIZEREL_INIT "-Os -g")
set(CMAKE_CXX_FLAGS_MINSIZEREL_INIT "-Os -g")
set(CMAKE_ASM_FLAGS_MINSIZEREL_INIT "-g")

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
