// Default run-time options of the sanitizer builds, linked into every executable
// of such a build: the test programs and the programs that the end-to-end tests
// start with an environment of their own. Any report aborts the process, and a
// signal is an outcome that no test accepts, whatever exit status it expects.

extern "C" const char* __asan_default_options() {
  return "abort_on_error=1:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:"
         "check_initialization_order=1:strict_init_order=1:print_suppressions=0";
}

extern "C" const char* __ubsan_default_options() { return "abort_on_error=1:halt_on_error=1:print_stacktrace=1"; }
