// Sanitizer settings of the widget tests, read by the sanitizer runtimes at start-up (unused in
// other builds).

extern "C" {

// Qt is not built for the thread sanitizer: allocations in its own thread pool (painting, image
// conversion) would read as races. Races in our code, which is instrumented, are still reported.
__attribute__((used)) const char* __tsan_default_options() {
  return "ignore_noninstrumented_modules=1";
}

// libdbus keeps a buffer for the life of the process once Qt's X11 platform has asked the session
// bus about tray icons and themes; it is not ours and never grows.
__attribute__((used)) const char* __lsan_default_suppressions() {
  return "leak:libdbus-1.so\n";
}

}  // extern "C"
