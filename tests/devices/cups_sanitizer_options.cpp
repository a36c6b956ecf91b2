// Sanitizer options for the CUPS print test: those of every test (tests/support/
// sanitizer_options.cpp), plus libcups, whose PPD cache (_ppdCacheCreateWithPPD, reached through
// Qt's CUPS print plugin) drops strings it duplicated.

extern "C" {

const char* __asan_default_options() {
    return "detect_leaks=1:abort_on_error=0";
}

const char* __ubsan_default_options() {
    return "print_stacktrace=1:halt_on_error=1";
}

const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n"
           "leak:libdbus-1.so\n"
           "leak:libsane-test.so\n"
           "leak:libcups.so\n";
}

} // extern "C"
