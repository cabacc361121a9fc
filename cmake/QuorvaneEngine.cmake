# Helpers shared by the subsystem folders.

# quorvane_sources(file...) adds engine sources from the calling folder.
function(quorvane_sources)
  foreach(f ${ARGN})
    target_sources(quorvane_obj PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/${f})
  endforeach()
endfunction()

set(QUORVANE_LINUX OFF)
set(QUORVANE_WINDOWS OFF)
if(WIN32)
  set(QUORVANE_WINDOWS ON)
else()
  set(QUORVANE_LINUX ON)
endif()
