# Helpers shared by the subsystem folders.

# quorvane_glob_sources([TARGET t]) adds every .cpp of the calling folder,
# and of its linux/ or win32/ subfolder for the platform being built, to the
# engine (or to target t).
function(quorvane_glob_sources)
  cmake_parse_arguments(G "" "TARGET" "" ${ARGN})
  if(NOT G_TARGET)
    set(G_TARGET quorvane_obj)
  endif()
  if(WIN32)
    set(os win32)
  else()
    set(os linux)
  endif()
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/${os}/*.cpp)
  target_sources(${G_TARGET} PRIVATE ${srcs})
endfunction()

set(QUORVANE_LINUX OFF)
set(QUORVANE_WINDOWS OFF)
if(WIN32)
  set(QUORVANE_WINDOWS ON)
else()
  set(QUORVANE_LINUX ON)
endif()
