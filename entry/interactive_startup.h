// Interactive start-up: the application with its window and message loop.
#pragma once

// Returns the process exit code.
int RunInteractive();
