vorn_gtest(config_writer_tests
  SOURCES getopt_test.cpp config_text_test.cpp vorn_sql_test.cpp
  LIBS vorn_config_writer)
vorn_libc_only_test(vorn_sql)
