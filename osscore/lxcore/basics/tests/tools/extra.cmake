# A module whose description texts are 1,000 characters long, for lxtool describe.
add_library(lxb_tool_long_texts MODULE ${CMAKE_CURRENT_LIST_DIR}/../modules/mods/tagged.cpp)
set_target_properties(lxb_tool_long_texts PROPERTIES PREFIX "" OUTPUT_NAME lx95Tlt71 SUFFIX ".so"
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/testmodules/tools)
target_compile_definitions(lxb_tool_long_texts PRIVATE MODULE_TAG="long" DESCRIBED=1 LONG_TEXTS=1)
add_dependencies(lxb_test_tools lxb_tool_long_texts)
target_compile_definitions(lxb_test_tools PRIVATE LXB_LONG_TEXTS_MODULE="$<TARGET_FILE:lxb_tool_long_texts>"
  LXB_VERSION="${PROJECT_VERSION}")
