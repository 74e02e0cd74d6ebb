// MdsInput.h: a MIDI stream file as the converter's input, on its way back to an SMF: knowing one
// by its content, and saying why one is refused.
#pragma once
#include <string>

#include "core/Conversion.h"

// True when path is a regular file that begins as a MIDI stream file does (RIFF form MIDS),
// whatever its name. A file that cannot be read is not one; its conversion reports why.
bool IsMdsFile(const std::string& path);

// Why ConvertMds refused a file, with the byte offset where there is one, in UTF-8.
std::string MdsRefusal(MdsConversionStatus status, const MdsCheck& fault);
