# Checking a configuration text, in-process.
vorn_gtest(config_reader_tests SOURCES config_check_test.cpp LIBS vorn_config_reader vorn_key_path_test)
