// MdsInput.h: a MIDI stream file as the converter's input, on its way back to an SMF: knowing one
// by its content, and saying why one is refused.
#pragma once
#include <string>

#include "core/Conversion.h"

// Whether path is a regular file that begins as a MIDI stream file does (RIFF form MIDS),
// whatever its name. Unreadable: its conversion will say why. A FIFO or a device is not looked
// into, so it counts as NotMds.
enum class MdsProbe { Mds, NotMds, Unreadable };
MdsProbe ProbeMdsFile(const std::string& path);

// Why ConvertMds refused a file, with the byte offset where there is one, in UTF-8.
std::string MdsRefusal(MdsConversionStatus status, const MdsCheck& fault);
