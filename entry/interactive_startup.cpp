#include "entry/interactive_startup.h"

// The interactive application is not built yet: the process ends at once.
int RunInteractive() { return 0; }
