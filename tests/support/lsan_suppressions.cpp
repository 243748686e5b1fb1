// Leaks that LeakSanitizer reports outside our code: cairo keeps the
// fontconfig configuration and the patterns of its font cache for the life
// of the process, in a form the leak checker does not see as reachable.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
