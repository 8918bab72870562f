# vorn_show and vorn_keyfile end to end. The test twins of vorn_show and
# vorn_sql read the key file ".vorn_yelto" in the test's working folder.
vorn_gtest(vorn_show_tests SOURCES vorn_show_test.cpp)
