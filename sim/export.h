// The simulator library (libkorvaxsim) hides its symbols; the classes and
// functions marked here are what programs that link it use (the built-in
// VISA library, korvax-sim, the command-line tool, the tests).
#pragma once

#define SIM_API __attribute__((visibility("default")))
