// The dependency of the win_dependent plug-in: a plain DLL with one export.
extern "C" __declspec(dllexport) int DependentHelperValue() { return 41; }
