#pragma once

// Finds the Start Menu windows of this thread's shell and attaches the library to them; the
// outcome is left in g_startMenuWnd (NULL when the Start Menu or part of it is missing).
void DiscoverStartMenu();

// Gives every window that the library took over back to the shell. Safe to call at any time.
void DetachShellObjects();
