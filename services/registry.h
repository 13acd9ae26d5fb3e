// The one list of the statement families the program is made of.
#pragma once

// Registers every family with the engine; calling it again changes nothing.
void TarvRegisterFamilies();
