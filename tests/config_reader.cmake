# vorn_show and vorn_keyfile end to end. The test builds of vorn_show and
# vorn_sql read the key file ".vorn_yelto" in the test's working directory.
vorn_gtest(config_reader_tests
  SOURCES vorn_show_test.cpp
  LIBS vorn_config_writer
  DEFINES
    VORN_SHOW_PATH="$<TARGET_FILE:vorn_show>"
    VORN_SHOW_TESTKEY_PATH="$<TARGET_FILE:vorn_show_testkey>"
    VORN_SQL_TESTKEY_PATH="$<TARGET_FILE:vorn_sql_testkey>"
    VORN_KEYFILE_PATH="$<TARGET_FILE:vorn_keyfile>")
add_dependencies(config_reader_tests vorn_show vorn_show_testkey vorn_sql_testkey vorn_keyfile)
vorn_libc_only_test(vorn_show)
