#pragma once
// QvSeek's window is a module of its own, loaded only when a window is asked for: a search
// from the command line then never loads Qt and the libraries under it, which cost more
// than the search itself.

// The module's file name, looked for in the folder of the running program.
inline constexpr const char* kSeekWindowModule = "libQvSeekWindow.so";
// Its one export: runs the window for the program's own arguments and returns the exit code
// (0, 1 usage, 2 failure, as for --print).
inline constexpr const char* kSeekWindowEntry = "QvSeekWindowMain";
extern "C" {
using SeekWindowMain = int(int argc, char** argv);
}
