# The statistics suite's second program: the provider's internals, through the object library.
file(GLOB LXB_STATS_INTERNAL_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/statistics/internal/*.cpp)
add_executable(lxb_test_statistics_internal ${LXB_STATS_INTERNAL_SOURCES})
target_link_libraries(lxb_test_statistics_internal PRIVATE lxbasics_objects lxb_test_support)
target_include_directories(lxb_test_statistics_internal PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/statistics ${CMAKE_CURRENT_SOURCE_DIR}/../src)
gtest_discover_tests(lxb_test_statistics_internal DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 300 LABELS statistics)
