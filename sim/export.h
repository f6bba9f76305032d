// The simulator is compiled into the built-in VISA library, whose symbols
// are hidden; the classes and functions marked here stay reachable from a
// program that links that library (the command-line tool, the tests).
#pragma once

#define SIM_API __attribute__((visibility("default")))
