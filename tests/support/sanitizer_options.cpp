// Built into every test program. AddressSanitizer would otherwise catch
// SIGFPE itself and end the process with a report; the tests want the
// signal to reach the process (and the death tests to see it) as it does
// without instrumentation.
#if defined(__SANITIZE_ADDRESS__)
extern "C" __attribute__((visibility("default"))) const char *__asan_default_options() {
  return "handle_sigfpe=0";
}
#endif
