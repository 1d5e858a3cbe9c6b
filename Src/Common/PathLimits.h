// The path limits of the programs, each in one place. They count UTF-16
// units (WideLength in CommonFunc.h), as the programs' 260-character path
// buffers do, not UTF-8 bytes.
#pragma once

#include <cstddef>

// A whole path buffer: the conversion's source-file edit and its card-folder
// text hold at most this many units.
constexpr size_t PATH_BUFFER_CHARS = 260;

// A source file a folder run takes is shorter than a path buffer (its
// terminating NUL fits).
constexpr size_t SOURCE_FILE_PATH_MAX = PATH_BUFFER_CHARS - 1;

// A picture's output name may fill a path buffer; one unit more stops the
// run ("The output folder is not available.").
constexpr size_t OUTPUT_NAME_MAX = PATH_BUFFER_CHARS;

// A folder: what the folder browser hands back, what the source-folder and
// output-folder edits hold, and the longest output folder the conversion
// accepts.
constexpr size_t FOLDER_PATH_MAX = 256;
