// Card paths travel in the camera's ANSI code page, Windows-1252. The program
// keeps text in UTF-8; these conversions sit at the protocol border.
#pragma once

#include <cstddef>
#include <string>

// The Windows-1252 bytes of a UTF-8 text. False (and *ansi untouched) when
// the text is not valid UTF-8 or holds a character the code page cannot
// encode: such a text is refused, never replaced.
bool Utf8ToAnsi(const std::string& utf8, std::string* ansi);
// The UTF-8 text of Windows-1252 bytes, read up to the first zero byte and
// never past `maxBytes`.
std::string AnsiToUtf8(const char* bytes, size_t maxBytes);
// True when `utf8` can go to the card as a path: Windows-1252 can encode it
// and it needs at most FOTAVI_PATH_MAX_CHARS (32) bytes there.
bool FitsCardPath(const std::string& utf8);
