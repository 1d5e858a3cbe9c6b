// A field of a packed record (the TWAIN records, the BMP headers), copied:
// the test macros take their arguments by reference, and a reference must
// not bind to a field that the packing left misaligned.
#pragma once

template <typename T>
T Copied(T value) {
  return value;
}
