// Defaults for the sanitizer build (KV_SANITIZE), compiled into every
// program of it, so the programs a test starts report as the test does.

// Allocations that system libraries keep for the life of the process on
// purpose: fontconfig's configuration and caches, D-Bus's connection data
// (which Qt opens on a desktop), and what X libraries made for a connection
// whose server went away, even in the middle of opening it: such a
// connection is abandoned, never closed, and XOpenDisplay drops the
// default graphics context it made when it gives up half-way (its stack
// ends in XCreateGC, as the library keeps no frame pointers).
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\nleak:libdbus-1.so\nleak:libXext.so\nleak:XOpenDisplay\nleak:XCreateGC\n";
}

extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }

extern "C" const char* __asan_default_options() { return "external_symbolizer_path=" KV_SYMBOLIZER; }

extern "C" const char* __ubsan_default_options() {
  return "print_stacktrace=1:halt_on_error=1:external_symbolizer_path=" KV_SYMBOLIZER;
}
