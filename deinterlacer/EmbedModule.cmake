# deinterlacer_resource: a static library holding the bytes of the built deinterlacer.so, for the
# program that carries the module as its data resource "MYFILTER". The bytes are copied to a fixed
# place whenever the module is rebuilt, and the resource object depends on that copy.
set(myfilter_copy ${CMAKE_CURRENT_BINARY_DIR}/MYFILTER.bin)
add_custom_command(
  OUTPUT ${myfilter_copy}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:deinterlacer> ${myfilter_copy}
  DEPENDS deinterlacer
  COMMENT "Copying deinterlacer.so for the MYFILTER resource")
add_custom_target(deinterlacer_resource_bytes DEPENDS ${myfilter_copy})

add_library(deinterlacer_resource STATIC FilterResource.cpp)
add_dependencies(deinterlacer_resource deinterlacer_resource_bytes)
target_include_directories(deinterlacer_resource PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_definitions(deinterlacer_resource PRIVATE KESTROM_MYFILTER_PATH="${myfilter_copy}")
set_source_files_properties(FilterResource.cpp PROPERTIES OBJECT_DEPENDS ${myfilter_copy})
