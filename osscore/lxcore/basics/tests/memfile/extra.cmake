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

# The memory-file fuzz targets run under ctest too, without the fuzzing engine:
# each replays its committed corpus and inputs from a fixed-seed generator (fewer
# for the memory-file model, which compares every byte after every step).
foreach(entry memfile:3000 memqueue:20000 rle_decode:20000 rle_roundtrip:20000)
  string(REPLACE ":" ";" entry ${entry})
  list(GET entry 0 name)
  list(GET entry 1 count)
  set(target lxb_replay_${name})
  add_executable(${target} ${CMAKE_CURRENT_LIST_DIR}/../fuzz/fuzz_${name}.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../fuzz/replay_main.cpp)
  target_link_libraries(${target} PRIVATE lxbasics_objects)
  target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_LIST_DIR}/.. ${CMAKE_CURRENT_LIST_DIR}/../../src)
  set_target_properties(${target} PROPERTIES ENABLE_EXPORTS ON)
  add_test(NAME FuzzReplay.${name} COMMAND ${target} ${CMAKE_CURRENT_LIST_DIR}/../fuzz/corpus/${name} ${count})
  set_tests_properties(FuzzReplay.${name} PROPERTIES LABELS memfile TIMEOUT 300)
endforeach()
