// Facts about the machine and the running program.
#pragma once

// "major.minor" of the running kernel into dest (room bytes); its length.
int OsVersion(char* dest, int room);
// Absolute path of the running program into dest (room bytes); its length, or -1.
int ProgramPath(char* dest, int room);
int ProcessId();
