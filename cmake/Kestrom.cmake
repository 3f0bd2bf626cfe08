# Helpers shared by every folder of the project.

set(KESTROM_EMBED_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/EmbedResource.cmake)

# Adds each folder matching the given patterns (relative to the source root) that holds a
# CMakeLists.txt, in sorted order.
function(kestrom_add_code_folders)
  foreach(pattern IN LISTS ARGN)
    file(GLOB candidates LIST_DIRECTORIES true RELATIVE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/${pattern})
    list(SORT candidates)
    foreach(dir IN LISTS candidates)
      if(IS_DIRECTORY ${CMAKE_SOURCE_DIR}/${dir} AND EXISTS ${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt)
        add_subdirectory(${dir})
      endif()
    endforeach()
  endforeach()
endfunction()

# kestrom_library(<target> [SHARED] [SOURCES ...] [LIBS ...])
# A library of the project; includes are rooted at the source tree
# (#include "platform/core/Format.h"). Without SOURCES it takes every .cpp of its folder.
function(kestrom_library target)
  cmake_parse_arguments(ARG "SHARED" "" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_SOURCES)
    file(GLOB ARG_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  endif()
  if(ARG_SHARED)
    add_library(${target} SHARED ${ARG_SOURCES})
  else()
    add_library(${target} STATIC ${ARG_SOURCES})
  endif()
  target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC ${ARG_LIBS})
endfunction()

# kestrom_test(<target> [SOURCES ...] [LIBS ...])
# A GoogleTest program run through CTest, headless, with a fixed 1280x1024 offscreen screen
# (see tests/TestMain.cpp). Without SOURCES it takes every .cpp of its folder.
function(kestrom_test target)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_SOURCES)
    file(GLOB ARG_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  endif()
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE kestrom_test_main ${ARG_LIBS})
  gtest_discover_tests(${target}
    DISCOVERY_MODE PRE_TEST
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    DISCOVERY_TIMEOUT 60)
endfunction()

# kestrom_benchmark(<target> SOURCES ... [LIBS ...])
function(kestrom_benchmark target)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE benchmark::benchmark ${ARG_LIBS})
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endfunction()

# kestrom_embed_resource(<target> <NAME> <file> [DEPENDS <target-or-file>...])
# Compiles the bytes of <file> into <target> (a program or shared library), found at run time by
# kestrom::core::FindResource("<NAME>"). The bytes are regenerated whenever the file changes.
# <file> may be made by another target of the build (e.g. $<TARGET_FILE:deinterlacer>): name
# that target under DEPENDS so it is built first.
function(kestrom_embed_resource target name file)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  if(NOT name MATCHES "^[A-Za-z0-9_.-]+$")
    message(FATAL_ERROR "kestrom_embed_resource: bad resource name '${name}'")
  endif()
  if(NOT file MATCHES "^\\$<" AND NOT IS_ABSOLUTE "${file}")
    set(file ${CMAKE_CURRENT_SOURCE_DIR}/${file})
  endif()
  string(MAKE_C_IDENTIFIER "${target}_${name}" id)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/embedded/${id}.cpp)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -DNAME=${name} -DINPUT=${file} -DOUTPUT=${out} -P ${KESTROM_EMBED_SCRIPT}
    DEPENDS ${file} ${ARG_DEPENDS} ${KESTROM_EMBED_SCRIPT}
    COMMENT "Embedding ${name} into ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE ${out})
  target_link_libraries(${target} PRIVATE platform_core)
endfunction()
