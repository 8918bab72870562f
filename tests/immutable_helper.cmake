vorn_gtest(quordex_helper_tests
  SOURCES quordex_helper_test.cpp
  LIBS vorn_immutable_helper)
vorn_libc_only_test(quordex_helper)
