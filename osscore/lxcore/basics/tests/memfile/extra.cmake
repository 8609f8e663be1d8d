# The CRC-32 engines are internal to the library: a second test program links
# the object library and checks each engine on its own, whatever this processor
# would pick.
file(GLOB LXB_MEMFILE_INTERNAL_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/internal/*.cpp)
if(LXB_MEMFILE_INTERNAL_SOURCES)
  add_executable(lxb_test_memfile_internal ${LXB_MEMFILE_INTERNAL_SOURCES})
  target_link_libraries(lxb_test_memfile_internal PRIVATE lxbasics_objects lxb_test_support)
  target_include_directories(lxb_test_memfile_internal PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../../src)
  set_target_properties(lxb_test_memfile_internal PROPERTIES ENABLE_EXPORTS ON)
  gtest_discover_tests(lxb_test_memfile_internal DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 300 LABELS memfile)
endif()
