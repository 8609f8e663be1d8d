# Platform tests that replace the host's clocks (src/os/clock.h) need the
# library's internals: they live in internal/ and link the object library.
file(GLOB lxb_platform_internal_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/internal/*.cpp)
if(lxb_platform_internal_sources)
  add_executable(lxb_test_platform_internal ${lxb_platform_internal_sources})
  target_link_libraries(lxb_test_platform_internal PRIVATE lxbasics_objects lxb_test_support)
  set_target_properties(lxb_test_platform_internal PROPERTIES ENABLE_EXPORTS ON)
  target_include_directories(lxb_test_platform_internal PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../../src)
  gtest_discover_tests(lxb_test_platform_internal DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 300 LABELS platform)
endif()
