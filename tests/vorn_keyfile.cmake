# vorn_keyfile end to end; the key files it writes are loaded in-process.
vorn_gtest(vorn_keyfile_tests SOURCES vorn_keyfile_test.cpp LIBS vorn_cipher vorn_key_path_test
           DEFINES VORN_CIPHER_VECTORS="${CMAKE_CURRENT_SOURCE_DIR}/cipher_vectors")
