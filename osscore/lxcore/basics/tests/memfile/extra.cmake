# The CRC-32 engines are internal: a second test program links the object
# library to check each engine, whatever this processor would pick.
add_executable(lxb_test_memfile_internal ${CMAKE_CURRENT_LIST_DIR}/internal/crc_engines_test.cpp)
target_link_libraries(lxb_test_memfile_internal PRIVATE lxbasics_objects lxb_test_support)
target_include_directories(lxb_test_memfile_internal PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../../src)
set_target_properties(lxb_test_memfile_internal PROPERTIES ENABLE_EXPORTS ON)
gtest_discover_tests(lxb_test_memfile_internal DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 300 LABELS memfile)
