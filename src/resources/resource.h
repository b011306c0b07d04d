// Resource identifiers shared by app.rc and the code that loads them.
#pragma once

// Icon group of the executable; the window class uses it too.
#define IDI_APP_ICON 101
