# The option parser, the configuration text, and vorn_sql end to end (plain, and
# encrypted through its test twin, which reads the key file ".vorn_yelto" in
# its working folder).
vorn_gtest(config_writer_tests
  SOURCES getopt_test.cpp config_text_test.cpp vorn_sql_test.cpp
  LIBS vorn_config_writer vorn_getopt)
