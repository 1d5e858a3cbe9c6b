// The movie program's files on disk as the writers, the player and the
// settings dialog meet them: how a path is handed to FFmpeg, the space left
// on the file system of an output, the room a writer keeps free, and the
// removal of an output that holds no frame.
#pragma once

#include <cstdint>
#include <string>

// The FFmpeg address of a file: "file:" keeps a colon in the name from
// selecting another protocol.
std::string FileUrl(const std::string& path);

// Bytes available to the user on the file system of `path`'s nearest
// existing folder (the output itself, and folders not yet made, need not
// exist). FALSE, with the system's text in `error`, when the path names no
// folder or the file system cannot be asked.
bool FreeSpaceFor(const std::string& path, uint64_t* bytes, std::string* error = nullptr);

// What a writer leaves free on the disk besides the frame it writes: room
// for the file's trailer and index, the muxer's write buffer and the list
// headers, so that a disk that fills up still leaves complete files.
constexpr uint64_t OUTPUT_RESERVE_BYTES = 256 * 1024;

// When the last path component names a regular file, removes it (an output
// that holds no frame is not left behind).
void RemoveEmptyOutput(const std::string& path);
