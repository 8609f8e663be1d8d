# The statistics suite's second program: tests of the provider's internals (the
# installer against a prepared registry store, activation, the shared-block and
# lock-file layer), which the shared object does not export. It links the object
# library and carries the label "statistics" like the public suite.
file(GLOB LXB_STATS_INTERNAL_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/statistics/internal/*.cpp)
if(LXB_STATS_INTERNAL_SOURCES)
  add_executable(lxb_test_statistics_internal ${LXB_STATS_INTERNAL_SOURCES})
  target_link_libraries(lxb_test_statistics_internal PRIVATE lxbasics_objects lxb_test_support)
  target_include_directories(lxb_test_statistics_internal PRIVATE
    ${CMAKE_CURRENT_SOURCE_DIR}/statistics ${CMAKE_CURRENT_SOURCE_DIR}/../src)
  gtest_discover_tests(lxb_test_statistics_internal DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 300 LABELS statistics)
endif()
