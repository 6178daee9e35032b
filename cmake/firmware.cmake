# A firmware module: the same sources build for the host (against the simulated
# board) and for the chip.
function(firmware_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  set_property(GLOBAL APPEND PROPERTY TRACKER_FIRMWARE_LIBRARIES ${name})
endfunction()
