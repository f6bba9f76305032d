// The korvax command's switching by name: `korvax [--topology FILE]
// [--chassis NAME] connect A B`, `disconnect`, `can-connect`, `route`,
// `paths`, `nets`, `wear`, `events`, and `show` labelled with channel names.
#pragma once

#include <string>

namespace korvax::tools {

// True when the command line asks for switching by name: one of its
// subcommands, or `show` with `--topology` or `--chassis`.
bool isSwitchingCommand(int argc, char **argv);
// "connect, disconnect, can-connect, ...": the subcommands, for help texts.
std::string switchingCommandNames();
// Runs it; returns the exit status (0 done, 1 refused or failed, 2 usage).
int runSwitchingCommand(int argc, char **argv);

}  // namespace korvax::tools
