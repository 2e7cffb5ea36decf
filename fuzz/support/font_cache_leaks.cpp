// Fontconfig, which cairo loads to draw metafile text, keeps its caches for the life of the
// process and never frees them. The leak checker is told so; leaks of our own still count.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
