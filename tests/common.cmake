# The shared chores of the programs, in process.
vorn_gtest(common_tests SOURCES display_test.cpp LIBS vorn_chores)
