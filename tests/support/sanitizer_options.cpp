// Default sanitizer options for every test program; the environment can still override them.

extern "C" {

const char* __asan_default_options() {
    return "detect_leaks=1:abort_on_error=0";
}

const char* __ubsan_default_options() {
    return "print_stacktrace=1:halt_on_error=1";
}

// Leaks inside system libraries that the program cannot free: font and bus set-up run once, and
// SANE's test backend drops a line buffer when a scan is cancelled or fails, and libcups keeps
// a PPD cache that Qt's print plugin never frees.
const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n"
           "leak:libdbus-1.so\n"
           "leak:libsane-test.so\n"
           "leak:libcups.so\n";
}

} // extern "C"
