# Included by the top-level CMakeLists.txt after vorn_flags is defined.
#
# Normal builds: the deliverables (everything that links vorn_flags) are
# compiled and linked hardened: fortified libc calls, stack protector, PIE,
# full RELRO with immediate binding, and a non-executable stack.
#
# VORN_SANITIZE: everything (libraries, programs, test programs) is built with
# AddressSanitizer and UndefinedBehaviorSanitizer, and any report ends the
# process. VORN_FUZZ: the same sanitizers plus libFuzzer coverage (clang), and
# only the fuzz targets are run. Both bring their own runtimes, so the hardening
# flags and the libc-only checks are left out there.
option(VORN_SANITIZE "Build everything with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(VORN_FUZZ "Build the libFuzzer targets (clang) and run them as the tests" OFF)
set(VORN_FUZZ_SECONDS 20 CACHE STRING "Seconds each fuzz target runs as a test of the fuzz build")

# compile_commands.json for clang-tidy.
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)

if(VORN_SANITIZE OR VORN_FUZZ)
  set(VORN_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all)
  add_compile_options(${VORN_SANITIZER_FLAGS} -fno-omit-frame-pointer)
  add_link_options(${VORN_SANITIZER_FLAGS})
  # clang's -fsanitize=function (part of "undefined" for C++) calls into the C++
  # part of its runtime, which the C driver that links the deliverables leaves
  # out unless told to link it.
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    add_link_options(-fsanitize-link-c++-runtime)
  endif()
  add_compile_definitions(VORN_SANITIZER_BUILD=1)
  if(VORN_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link)
  endif()
  # Every executable of the build carries the sanitizers' default options, so
  # that the programs the end-to-end tests start report and fail the same way
  # as the test programs, whatever environment those tests give them.
  add_library(vorn_sanitizer_options OBJECT ${PROJECT_SOURCE_DIR}/tests/support/sanitizer_options.cpp)
  link_libraries("$<$<STREQUAL:$<TARGET_PROPERTY:TYPE>,EXECUTABLE>:vorn_sanitizer_options>")
else()
  target_compile_options(vorn_flags INTERFACE
    -O2 -fstack-protector-strong -fPIE -U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2)
  target_link_options(vorn_flags INTERFACE
    -pie -Wl,-z,relro,-z,now -Wl,-z,noexecstack)
endif()
