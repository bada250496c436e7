// Stands in for the JaCarta companion library: the back end only loads it.
int fuzz_companion_loaded(void) { return 1; }
