// The library that loadcheck_helper needs; it is built into a folder of its own, which nothing
// searches.
#ifdef _WIN32
extern "C" __declspec(dllexport) int LoadCheckHelperValue() { return 42; }
#else
extern "C" __attribute__((visibility("default"))) int LoadCheckHelperValue() { return 42; }
#endif
