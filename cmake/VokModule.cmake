# vok_module_library(<target> DEPS <targets...>)
#   A subsystem's static library from every .cpp/.c below the calling directory.
#   Headers are included from the module root: #include "base/blob.h".
function(vok_module_library target)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp
       ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  if(sources)
    add_library(${target} STATIC ${sources})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/module)
    target_link_libraries(${target} PUBLIC ${ARG_DEPS})
  else()
    # headers only so far
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR}/module)
    target_link_libraries(${target} INTERFACE ${ARG_DEPS})
  endif()
endfunction()
