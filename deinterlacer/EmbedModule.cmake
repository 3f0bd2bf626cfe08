# deinterlacer_resource: the bytes of the built deinterlacer.so as the data resource "MYFILTER"
# (kestrom::core::FindResource("MYFILTER")) of the program that links it; regenerated whenever
# the module is rebuilt. An object library, so that its registration at start-up is always linked.
add_library(deinterlacer_resource OBJECT)
kestrom_embed_resource(deinterlacer_resource MYFILTER $<TARGET_FILE:deinterlacer> DEPENDS deinterlacer)
target_link_libraries(deinterlacer_resource PUBLIC platform_core)
