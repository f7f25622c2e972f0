// Built into every test program. AddressSanitizer would otherwise catch
// SIGFPE itself and end the process with a report; the tests want the
// signal to reach the process (and the death tests to see it) as it does
// without instrumentation.
//
// fontconfig, which librsvg reaches through pango when a test renders a
// picture, keeps its configuration for the life of the process where
// LeakSanitizer cannot see it; its blocks are left out of the leak report
// (as the tool's are, cli/leak_suppressions.cpp).
#if defined(__SANITIZE_ADDRESS__)
extern "C" __attribute__((visibility("default"))) const char *__asan_default_options() {
  return "handle_sigfpe=0";
}

extern "C" __attribute__((visibility("default"))) const char *__lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
#endif
