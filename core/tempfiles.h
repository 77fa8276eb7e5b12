#pragma once

// Temporary files of writes in progress: removed when the process is ended
// by SIGINT, SIGTERM or SIGHUP, and, after a harder end (kill -9, power
// loss), by the next write to the same target.
//
// A writer names its temporary file after the target (".NAME.voicelib-XXXXXX")
// and holds an flock on it for as long as it lives, so a later writer can
// tell a dead writer's leftover (lock free) from a live one (locked).

#include <string>

namespace voicelib {

// Installs the handlers for SIGINT, SIGTERM and SIGHUP, which remove every
// registered path and then end the process with the signal's own status.
// A signal that was ignored when the program started stays ignored. Call
// from main(); calling it again does nothing.
void InstallTempFileCleanup();

// Registers a live temporary file (children = 0), or a temporary folder
// whose files are named by EntryFileName(0 .. children-1). The path is
// copied into a fixed-size table the signal handler can read; returns the
// slot, or -1 when the table is full or the path too long (the file is then
// left to the next writer's sweep).
int RegisterTempPath(const std::string& path, int children = 0);
void UnregisterTempPath(int slot);

// The name prefix of temporary files for a target file name (no folder).
std::string TempPrefix(const std::string& name);

// Removes, in folder dir, the leftovers of writers that are no longer
// running: regular files (or, with folders, directories and their files)
// whose name is prefix + 6 characters and whose lock can be taken, empty
// ones too (a writer locks its file with HoldsLiveLock before using it).
void RemoveLeftovers(const std::string& dir, const std::string& prefix, bool folders = false);

// Locks a just-created temporary file or folder for its writer; false when
// a sweep took it first (it is then removed: make another).
bool HoldsLiveLock(int fd);

// "0000.wav", "0001.wav", ...: the name of extracted entry i.
std::string EntryFileName(int i);

} // namespace voicelib
