// What the native programs around the installer share on the host side:
// whole files in and out, scratch directories and their removal, core
// paths, and installing without a word. For tools, benchmarks and fuzz
// targets (POSIX only); the installer itself has none of this.
#ifndef QUORVANEL_TOOLS_HOST_H
#define QUORVANEL_TOOLS_HOST_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

// The whole file at path; false when it cannot be read to its end.
bool ReadWholeFile(const std::string& path, std::string* data);
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* data);
// Creates or truncates path with exactly these bytes; false on any failure.
bool WriteWholeFile(const std::string& path, const void* data, size_t size);

// A fresh directory under /dev/shm when it is writable (else /tmp), named
// from prefix; empty when none can be made.
std::string MakeScratchDir(const char* prefix);
// Removes path and everything below it, read-only directories included.
// Symbolic links are removed, never followed.
void RemoveTree(const std::string& path);

// A host path with '\' as separator, as the installer's core takes paths.
std::string CorePath(std::string path);

// Status lines and error boxes of an installation go nowhere from here on.
void InstallSilentHooks(void);

#endif
