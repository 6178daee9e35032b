# A firmware module: the same sources build for the host (against the simulated
# board) and for the chip.
function(firmware_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  set_property(GLOBAL APPEND PROPERTY TRACKER_FIRMWARE_LIBRARIES ${name})
endfunction()

# A bootable image: the program's sources with the start-up module and its
# vector table, linked for the chip (.elf, .bin, .hex, .map). On the host the
# same sources make a library for board runs, with the program's main named
# <name>_main so that the test binary keeps its own.
function(firmware_image name)
  cmake_parse_arguments(image "" "STACK_SIZE" "SOURCES;LIBRARIES" ${ARGN})
  set(startup ${PROJECT_SOURCE_DIR}/boards/startup/startup.cpp)
  if(TRACKER_TARGET)
    add_executable(${name} ${image_SOURCES} ${startup} ${PROJECT_SOURCE_DIR}/boards/startup/system_calls.cpp)
    set_target_properties(${name} PROPERTIES SUFFIX .elf)
    # The start-up's copy loops must not turn into calls of the C library.
    set_source_files_properties(${startup} PROPERTIES COMPILE_OPTIONS -fno-tree-loop-distribute-patterns)
    target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PRIVATE ${image_LIBRARIES} m)
    set(stack_size 0x200)
    if(image_STACK_SIZE)
      set(stack_size ${image_STACK_SIZE})
    endif()
    target_link_options(${name} PRIVATE
      -nostartfiles -T${PROJECT_SOURCE_DIR}/cmake/tm4c123gh6pm.ld
      -Wl,--defsym=__STACK_SIZE=${stack_size}
      -Wl,-Map=$<TARGET_FILE_DIR:${name}>/${name}.map -Wl,--print-memory-usage)
    set_target_properties(${name} PROPERTIES LINK_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/tm4c123gh6pm.ld)
    add_custom_command(TARGET ${name} POST_BUILD
      COMMAND ${CMAKE_OBJCOPY} -O binary $<TARGET_FILE:${name}> $<TARGET_FILE_DIR:${name}>/${name}.bin
      COMMAND ${CMAKE_OBJCOPY} -O ihex $<TARGET_FILE:${name}> $<TARGET_FILE_DIR:${name}>/${name}.hex
      VERBATIM)
    set_property(GLOBAL APPEND PROPERTY TRACKER_FIRMWARE_IMAGES ${name})
  else()
    add_library(${name}_image STATIC ${image_SOURCES} ${startup})
    target_include_directories(${name}_image PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name}_image PUBLIC ${image_LIBRARIES} platform)
    target_compile_definitions(${name}_image PRIVATE main=${name}_main)
  endif()
endfunction()
