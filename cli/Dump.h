// Dump.h: --dump, a readable listing of an MDS file with a check of its structure.
#pragma once
#include <ostream>
#include <string>

// Lists the header, every block and every decoded event on out. 0 when the file is sound and laid
// out as our own writer lays it out; 1 when it cannot be read, is faulty, or departs from that
// layout (on err: the first departure, and the fault that stopped the decoder).
int DumpMdsFile(const std::string& path, std::ostream& out, std::ostream& err);
