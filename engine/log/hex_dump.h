// Hex dumps of data into the debug log.
#pragma once

int HexLog(const char* data, int len);
void HexLogSent(const char* data, int offset, int len);
