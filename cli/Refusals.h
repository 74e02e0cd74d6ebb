// Refusals.h: why a file was refused, in words: every fault of the core becomes its text here,
// and only here. It needs nothing but the core's results and the message table (no system
// calls, no global state), so any front end can say the same as tonflux-convert. The system's
// own texts (a failed read or write, running out of memory) are the caller's to add.
#pragma once
#include <string>

#include "cli/Messages.h"
#include "core/Conversion.h"
#include "core/MdsReader.h"

// What an SMF fault is, without where.
const char* SmfFaultText(SmfFaultKind kind, Language language = CurrentLanguage());
// Where an SMF is wrong and what is wrong there ("track 3 (offset 0x1A2F): ..."); the hint that
// --lenient converts it when lenientConverts.
std::string SmfRefusal(const SmfFault& fault, bool lenientConverts,
                       Language language = CurrentLanguage());
// Why the forward conversion refused a file: NotSmf (as SmfRefusal says), EventTooLarge or
// OutputTooLarge. Empty for Ok, and for OutOfMemory and WriteFailed, whose texts are the system's.
std::string ConversionRefusal(ConversionStatus status, const SmfFault& fault, bool lenientConverts,
                              Language language = CurrentLanguage());

// What an MDS fault or departure from our own layout is, without where.
const char* MdsFaultText(MdsFault fault, Language language = CurrentLanguage());
// A fault that stopped the decoder, or with departure a departure from our layout, with its offset.
std::string MdsFaultAt(const MdsCheck& check, bool departure,
                       Language language = CurrentLanguage());
// Why the way back refused a file, with the offset where there is one.
std::string MdsRefusal(MdsConversionStatus status, const MdsCheck& fault,
                       Language language = CurrentLanguage());

// text on one line, as every report must be: a line break becomes a space, or nothing after a
// Japanese full stop. Some texts are shared with the Windows program, whose boxes break lines.
std::string OneLine(const std::string& text);
