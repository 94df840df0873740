#pragma once

// The calls the viewer makes to the file system for pictures and their folders. Each one goes
// past noteFileSystemCall first, so that a test can make the file system slow (a network share
// that has gone away) and see which thread waits for it.
enum class FileSystemCall { Stat, Open, Read, List, Remove };

// Called on the thread that makes the call, before it; path is the call's file or folder
// (nullptr for a read of a file already open). It must be safe on any thread.
using FileSystemProbe = void (*)(FileSystemCall call, const char* path);

// nullptr (the viewer as shipped) removes the probe.
void setFileSystemProbe(FileSystemProbe probe);
void noteFileSystemCall(FileSystemCall call, const char* path);
