// Dump.h: --dump, a readable listing of an MDS file with a check of its structure.
#pragma once
#include <ostream>
#include <string>

// Lists the header, every block and every decoded event on out. 0 when the file is sound, 1 when
// it cannot be read or its structure is faulty (the fault on err).
int DumpMdsFile(const std::string& path, std::ostream& out, std::ostream& err);
