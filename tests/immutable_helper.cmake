vorn_gtest(quordex_helper_tests
  SOURCES quordex_helper_test.cpp
  LIBS vorn_immutable_helper
  DEFINES QUORDEX_HELPER_PATH="$<TARGET_FILE:quordex_helper>")
add_dependencies(quordex_helper_tests quordex_helper)
vorn_libc_only_test(quordex_helper)
