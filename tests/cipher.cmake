# The configuration cipher. The test program reads the key file ".vorn_yelto" in
# its working folder, never the fixed path.
vorn_gtest(cipher_tests
  SOURCES base64_test.cpp vorncrypt_test.cpp
  LIBS vorn_cipher vorn_key_path_test
  DEFINES VORN_CIPHER_VECTORS="${CMAKE_CURRENT_SOURCE_DIR}/cipher_vectors")
# The committed known answers (tests/fixtures/) are what an implementation of
# the cipher and the codec written apart from this one gives, and that
# implementation passes the independent vectors.
find_program(VORN_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(VORN_PYTHON3)
  add_test(NAME fixtures.independent_cipher
           COMMAND ${VORN_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/fixtures/make_fixtures.py check)
endif()
