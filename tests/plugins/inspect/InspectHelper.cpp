// The library that inspect_dependent needs.
extern "C" __attribute__((visibility("default"))) int InspectHelperValue() { return 41; }
