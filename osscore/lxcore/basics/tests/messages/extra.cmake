# The messages suite also runs `lxtool error`, so it needs the tool built first.
if(TARGET lxb_test_messages AND TARGET lxtool)
  add_dependencies(lxb_test_messages lxtool)
  target_compile_definitions(lxb_test_messages PRIVATE LXB_LXTOOL="$<TARGET_FILE:lxtool>")
endif()
