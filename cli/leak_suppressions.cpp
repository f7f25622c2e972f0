// Under AddressSanitizer's leak check: fontconfig, which librsvg reaches
// through pango to lay out a PNG picture's text, keeps its configuration
// and font lists for the life of the process without a pointer to them
// LeakSanitizer can see, and so would be reported at every exit that
// followed a PNG. Its blocks are left out of the report; the tool's own
// stay in it.
#if defined(__SANITIZE_ADDRESS__)
#define QVDEP_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QVDEP_LEAK_CHECK 1
#endif
#endif

#ifdef QVDEP_LEAK_CHECK
extern "C" __attribute__((visibility("default"))) const char *__lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
#endif
