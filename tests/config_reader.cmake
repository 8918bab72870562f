# vorn_show and vorn_keyfile end to end. The test builds of vorn_show and
# vorn_sql read the key file ".vorn_yelto" in the test's working directory.
vorn_gtest(config_reader_tests SOURCES vorn_show_test.cpp)
vorn_libc_only_test(vorn_show)
