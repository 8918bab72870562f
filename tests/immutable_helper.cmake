vorn_gtest(quordex_helper_tests
  SOURCES quordex_helper_test.cpp
  LIBS vorn_immutable_helper)
