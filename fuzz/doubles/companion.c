// Stands in for the JaCarta libraries of the fuzz targets' folder: the back end
// only loads the companion and looks for the module file.
int fuzz_companion_loaded(void) { return 1; }
