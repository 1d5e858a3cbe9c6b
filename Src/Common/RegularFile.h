// The one rule by which the programs open a file the user named for reading
// (a picture to send, a source to convert): only a regular file is read, and
// the opening never blocks. A FIFO or a device named like a picture would
// otherwise hold open() until a writer comes, or be read for ever.
#pragma once

#include <cstdio>
#include <string>

// A descriptor of the regular file at `path`, opened for reading (close-on-
// exec, no controlling terminal); -1 when it cannot be opened or is anything
// but a regular file. `sizeOut` (when given) receives its size.
int OpenRegularFile(const std::string& path, long long* sizeOut = nullptr);
// The same as a stdio stream for binary reading; nullptr on failure.
FILE* OpenRegularFileStream(const std::string& path);
