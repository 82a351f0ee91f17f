# Build options shared by every target of the project.

option(ORVI_BUILD_TESTS "Build the unit and end-to-end tests" ON)
option(ORVI_BUILD_BENCHMARKS "Build the benchmarks" ON)
set(ORVI_SANITIZE "" CACHE STRING
    "Sanitizers to build with: empty, 'address,undefined' or 'thread'")

# ccache, when the machine has it, keeps rebuilds of other checkouts and
# build folders cheap. CI machines start without it and build as before.
find_program(ORVI_CCACHE ccache)
if(ORVI_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  set(CMAKE_C_COMPILER_LAUNCHER ${ORVI_CCACHE})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${ORVI_CCACHE})
endif()

# Warnings apply to our own targets only (third-party headers stay quiet).
add_library(orvi_warnings INTERFACE)
target_compile_options(orvi_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow=local -Wnon-virtual-dtor
  -Wno-missing-field-initializers)

if(ORVI_SANITIZE)
  message(STATUS "Sanitizers: ${ORVI_SANITIZE}")
  add_compile_options(-fsanitize=${ORVI_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${ORVI_SANITIZE})
endif()

# Helper: a static library of every .cpp in the calling folder (and an
# optional list of subfolders), with the project's warnings.
function(orvi_add_library name)
  cmake_parse_arguments(ARG "" "" "SUBDIRS;LINK;PUBLIC_LINK" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(sub IN LISTS ARG_SUBDIRS)
    file(GLOB sub_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${sub}/*.cpp)
    list(APPEND sources ${sub_sources})
  endforeach()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PRIVATE orvi_warnings ${ARG_LINK} PUBLIC ${ARG_PUBLIC_LINK})
endfunction()
