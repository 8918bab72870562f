# The configuration cipher, the key file tool and vorn_sql's encrypted form. The
# test program and the test build of vorn_sql read the key file ".vorn_yelto" in
# their working directory, never the fixed path.
vorn_gtest(cipher_tests
  SOURCES base64_test.cpp vorncrypt_test.cpp keyload_test.cpp vorn_sql_encrypt_test.cpp
  LIBS vorn_cipher vorn_key_path_test
  DEFINES VORN_CIPHER_VECTORS="${CMAKE_CURRENT_SOURCE_DIR}/cipher_vectors")
vorn_libc_only_test(vorn_keyfile)
