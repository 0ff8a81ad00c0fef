// Linked into every program of a ThreadSanitizer build: the options every run gets, also a
// child that a test starts with an environment of its own. TSAN_OPTIONS adds to them.
// A report ends the program at once with exit code 86, which the test that ran it sees.
extern "C" const char* __tsan_default_options() {
  return "halt_on_error=1:second_deadlock_stack=1:exitcode=86:history_size=4:"
         "suppressions=" POSTVANE_TSAN_SUPPRESSIONS;
}
