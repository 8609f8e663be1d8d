# A memory-checking module for the VeskCheckMemory tests.
add_library(lxb_test_memcheck MODULE ${CMAKE_CURRENT_LIST_DIR}/memcheck_module.c)
set_target_properties(lxb_test_memcheck PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/testmodules/frame)
add_dependencies(lxb_test_frame lxb_test_memcheck)
target_compile_definitions(lxb_test_frame PRIVATE LXB_MEMCHECK_MODULE="$<TARGET_FILE:lxb_test_memcheck>")
