// pathlume-cli's calls that differ between POSIX and Windows: the standard
// streams, Ctrl-C, the terminal, and opening and replacing files. One file
// per platform (cliplatform_posix.cpp, cliplatform_win32.cpp); like every
// project header this one names no platform header. Not part of the
// program's interface.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace cli {

// Before anything is read or written. Standard input and output carry bytes
// as given, on Windows too, where they would otherwise turn every line end
// into CR LF (a CSV line end into CR CR LF) and stop reading at a Ctrl-Z
// (input typed at a console keeps that: Ctrl-Z and Enter end it).
// A standard output the program was started without is held by a descriptor
// that refuses writes (POSIX), so that no socket takes its number and the
// output fails as it must.
void PrepareStandardStreams();

// Ctrl-C (and on Windows Ctrl-Break) calls RequestInterrupt instead of
// ending the program.
void CatchInterrupt();

// Whether the stream is shown on a terminal (a console window on Windows;
// the NUL device is none).
bool IsTerminal(FILE* f);

// Opens a file for reading when it is a regular file, without waiting on
// whatever else may have its name (a FIFO, a pipe, a device). A handle for
// ReadSome, or -1 with the reason in *why: "it is a directory", "not a
// regular file", or the system's text.
int OpenRegularFile(const std::string& name, std::string* why);
// Reads up to size bytes: their count, 0 at the end, -1 with the system's
// text in *why. Handle 0 is standard input.
long ReadSome(int handle, char* buf, size_t size, std::string* why);
void CloseRegularFile(int handle);

// Writes text to a new file beside name, makes it durable, then puts it in
// name's place in one step (replacing what is there), so that a failed write
// never leaves a cut file in place of a good one. false with the system's
// text in *why; the new file is then removed.
bool ReplaceFileWith(const std::string& name, const std::string& text, std::string* why);

}  // namespace cli
