# Test modules of the modules suite, each in the directory through which a test finds
# it: confdir (the configured one), pathdir (PATH); lx95Tdu71 is in both.
if(TARGET lxb_test_modules)
  set(LXB_MOD_DIR ${CMAKE_CURRENT_BINARY_DIR}/modules)
  set(LXB_MOD_SRC ${CMAKE_CURRENT_SOURCE_DIR}/modules/mods)

  function(lxb_test_module target file dir source tag)
    add_library(${target} MODULE ${LXB_MOD_SRC}/${source})
    set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${file} SUFFIX ".so"
      LIBRARY_OUTPUT_DIRECTORY ${LXB_MOD_DIR}/${dir})
    target_compile_definitions(${target} PRIVATE MODULE_TAG="${tag}")
    add_dependencies(lxb_test_modules ${target})
  endfunction()

  lxb_test_module(lxb_mod_described lx95Tdm71 described tagged.cpp described)
  target_compile_definitions(lxb_mod_described PRIVATE DESCRIBED=1)
  lxb_test_module(lxb_mod_linked lx95Tln71 linked linked.cpp linked)
  target_link_libraries(lxb_mod_linked PRIVATE lxbasics)
  lxb_test_module(lxb_mod_confonly lx95Tcf71 confdir tagged.cpp confonly)
  lxb_test_module(lxb_mod_pathonly lx95Tpa71 pathdir tagged.cpp pathonly)
  lxb_test_module(lxb_mod_dup_conf lx95Tdu71 confdir tagged.cpp dup-conf)
  lxb_test_module(lxb_mod_dup_path lx95Tdu71 pathdir tagged.cpp dup-path)

  target_compile_definitions(lxb_test_modules PRIVATE LXB_TEST_MODULE_DIR="${LXB_MOD_DIR}")
endif()
