# The configuration cipher. The test program reads the key file ".vorn_yelto" in
# its working folder, never the fixed path.
vorn_gtest(cipher_tests
  SOURCES base64_test.cpp vorncrypt_test.cpp keyload_test.cpp
  LIBS vorn_cipher vorn_key_path_test
  DEFINES VORN_CIPHER_VECTORS="${CMAKE_CURRENT_SOURCE_DIR}/cipher_vectors")
