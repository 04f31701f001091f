#pragma once

/// Fills `buffer` of `size` bytes with the directory of the program file, without the separator
/// at its end. Returns 1 on success; 0 when the path cannot be had or does not fit (the buffer is
/// then the empty string), since a path cut short would name the wrong directory.
int GetModuleDirectory(char* buffer, int size);

/// Ends `path` at its last backslash or forward slash ("C:\apps\prog.exe" gives "C:\apps",
/// "C:\prog.exe" gives "C:"); a path without either stays whole.
void CutToDirectory(char* path);
