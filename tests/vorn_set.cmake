# vorn_set end to end, against vorn_sql's bytes; its test twin reads the key
# file ".vorn_yelto" in the test's working folder.
vorn_gtest(vorn_set_tests SOURCES vorn_set_test.cpp LIBS util)
