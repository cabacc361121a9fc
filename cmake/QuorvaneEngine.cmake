# Helpers shared by the subsystem folders.

if(WIN32)
  set(QUORVANE_OS win32)
else()
  set(QUORVANE_OS linux)
endif()

# quorvane_glob_sources(TARGET t) adds every .cpp of the calling folder,
# and of its linux/ or win32/ subfolder for the platform being built, to t.
function(quorvane_glob_sources)
  cmake_parse_arguments(G "" "TARGET" "" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/${QUORVANE_OS}/*.cpp)
  target_sources(${G_TARGET} PRIVATE ${srcs})
endfunction()

# What every engine folder sees: the public headers, the threads and
# library loading it builds on.
add_library(quorvane_engine_interface INTERFACE)
target_include_directories(quorvane_engine_interface INTERFACE
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>)
target_compile_definitions(quorvane_engine_interface INTERFACE QUORVANE_BUILDING_ENGINE)
target_link_libraries(quorvane_engine_interface INTERFACE Threads::Threads ${CMAKE_DL_LIBS})

# quorvane_layer(NAME [PUBLIC layers...] [PRIVATE layers...]) makes the
# calling folder the object library quorvane_<NAME>. Its include root holds
# that one folder, so "NAME/x.h" resolves only in the folder itself and in
# the folders that depend on it: an include of a folder not depended upon
# (a layer above) fails to build.
function(quorvane_layer name)
  cmake_parse_arguments(L "" "" "PUBLIC;PRIVATE" ${ARGN})
  set(target quorvane_${name})
  add_library(${target} OBJECT)
  quorvane_glob_sources(TARGET ${target})
  set_target_properties(${target} PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden
    C_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  set(root ${PROJECT_BINARY_DIR}/layers/${name})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${name} SYMBOLIC)
  target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${root}>)
  list(TRANSFORM L_PUBLIC PREPEND quorvane_)
  list(TRANSFORM L_PRIVATE PREPEND quorvane_)
  target_link_libraries(${target} PUBLIC quorvane_engine_interface ${L_PUBLIC} PRIVATE ${L_PRIVATE})
  if(NOT name STREQUAL "platform")
    set_property(GLOBAL APPEND PROPERTY QUORVANE_ENGINE_LAYERS ${target})
  endif()
endfunction()
