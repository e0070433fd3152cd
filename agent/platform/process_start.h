#pragma once

#include <QStringList>

// What the program does with its process before anything else runs in it.

// Takes the current folder out of the places the loader looks for libraries, so that a library
// left in whatever folder the agent was started from never loads into it. Nothing to do where
// the loader never looks there.
void tnw_restrict_library_search();

// The program's arguments, the program's name first, as the platform gives them: every
// character of a non-ASCII link kept. Only argv's own strings are read; Qt never sees them.
QStringList tnw_program_arguments(int argc, char* argv[]);
