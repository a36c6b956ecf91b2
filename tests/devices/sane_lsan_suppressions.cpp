// Leak reports that belong to SANE's test backend, not to us: its reader thread drops a line
// buffer when a scan is cancelled or fails. LeakSanitizer asks the program for these suppressions.

extern "C" const char* __lsan_default_suppressions() {
    return "leak:libsane-test.so\n";
}
