// A Windows program that does nothing: whole_run.exe times it to learn what Wine's bare process
// start and end cost, the share of a launcher run that no launcher code can remove.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return 0; }
