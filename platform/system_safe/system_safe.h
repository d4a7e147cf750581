// Runs a command line through the shell and waits for it, from any thread.
#pragma once

// The command's wait status (0 when it exited with status 0), or a negative
// value with errno set when the shell could not be started or waited for.
int system_safe(const char* command);
