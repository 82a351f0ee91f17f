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

# Helper: like orvi_add_library, for the libraries drawn with Qt Widgets (the
# toolkit and the wizard). Only these may link Qt; see orvi_require_qt_free.
function(orvi_add_qt_library name)
  orvi_add_library(${name} ${ARGN})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  target_link_libraries(${name} PUBLIC Qt6::Widgets)
endfunction()

# Stops the configuration when one of the given targets links Qt, directly or
# through any library it links: the engine and the support library must build
# and run without a GUI toolkit.
function(orvi_require_qt_free)
  foreach(target IN LISTS ARGN)
    set(pending ${target})
    set(seen "")
    while(pending)
      list(POP_FRONT pending current)
      if(current MATCHES "^Qt[0-9]*::|(^|[/l])(lib)?Qt[0-9]+[A-Z]")
        message(FATAL_ERROR "${target} must not link Qt, but it reaches ${current}")
      endif()
      if(current IN_LIST seen OR NOT TARGET ${current})
        continue()
      endif()
      list(APPEND seen ${current})
      get_target_property(aliased ${current} ALIASED_TARGET)
      if(aliased)
        list(APPEND pending ${aliased})
      endif()
      foreach(property IN ITEMS LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
        get_target_property(links ${current} ${property})
        if(links)
          # $<LINK_ONLY:x> and similar wrappers still name a link.
          string(REGEX REPLACE "\\$<[A-Z_]+:([^>]*)>" "\\1" links "${links}")
          list(APPEND pending ${links})
        endif()
      endforeach()
    endwhile()
  endforeach()
endfunction()
