// FuzzChecks.h: what must hold for any input bytes. The fuzz targets run these checks; the
// regression tests replay the inputs that once broke them.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/SmfReader.h"
#include "core/StreamBlocks.h"

// A fuzz input is an SMF image (any bytes at all) followed by one byte that picks the conversion
// options, so a seed is simply a file with one byte appended: bits 0-5 give the buffer size
// (1 + value % 63 KB), bit 6 set turns running status off, bit 7 set omits stream identifiers.
// Bits 0-5 all set, the one value that repeats another size (1 KB), read the image leniently.
// An empty input is an empty image with the default options.
struct FuzzInput {
    const uint8_t* image;
    uint32_t size;
    ConversionOptions options;
    SmfReadMode mode;
};
FuzzInput SplitFuzzInput(const uint8_t* data, size_t size);

// Each check aborts with a message on stderr when something that must hold does not; the message
// names context (for example the input file and the allocation refused) when one is set.
void SetCheckContext(const char* context);

// Parsing (with and without MacBinary), the title and copyright lookups and the merge: the two
// modes read the same song exactly when the lenient one needed no rule (whatever the mode the
// input picks), a parsed song survives being written back and read again unchanged, the merge
// equals the pairwise definition, and a refused allocation ends in a reported out-of-memory result
// or in the very same song, never in a crash or a different result. The allocation refused is the
// refuseNth of the parse and merge (counted modulo their number), or one picked from the input when
// 0. Returns the number of allocations of the parse and merge.
uint64_t CheckReadAndMerge(const uint8_t* data, size_t size, uint64_t refuseNth = 0);

// The whole conversion as the converter runs it (PrepareSong, BuildStreamBlocks with the input's
// options, WriteMdsImage): it converts exactly when the song can be read and every long message
// fits an empty block; every block keeps its limit (with 4 bytes per event when identifiers are
// omitted), starts at the tick reached before it and holds every encodable event once; the image
// has the layout of its blocks and texts. A refused allocation ends in an out-of-memory result
// or in the very same image. Returns the number of allocations of the conversion.
uint64_t CheckConversion(const uint8_t* data, size_t size, uint64_t refuseNth = 0);

// The conversion straight from the image (ConvertSmf, and ConvertSmfToOutput writing as it goes)
// against the song model's (ConvertSmfThroughSong), in the input's reading mode and the other
// one: the same result, the same reading (fault, place, lenient hint, mends), the same counts and
// the same file, byte for byte. A refused allocation ends in an out-of-memory result or in the
// very same file. The allocation refused is the refuseNth of the conversion in memory (counted
// modulo their number), or one picked from the input when 0; returns their number.
uint64_t CheckStreamConversion(const uint8_t* data, size_t size, uint64_t refuseNth = 0);

// Round trip: whatever converts decodes, with the core's MDS decoder, without a fault or any
// departure from our own layout, to exactly the encodable events of the merged track (channel
// messages with their status, tempo, system exclusive), each at its tick, with the header's
// fields, the title and the copyright.
// The decoder also reads the input itself and the converted file with one byte changed, without
// reading outside them.
void CheckRoundTrip(const uint8_t* data, size_t size);

// The way back to SMF, both ways round. The input whole, as a MIDI stream file of any writer:
// the way back refuses exactly what the decoder stops at, and a delta or text an SMF cannot
// hold; whatever it takes becomes an SMF that the reader takes (its division aside), holding the
// title, the copyright, every decoded event at its tick and End of Track, and that SMF converts
// to a stream file decoding to the same events in our own layout. The input as an SMF with its
// option byte: whatever converts comes back, MID -> MDS -> MID' -> MDS' with the same options,
// with MDS' byte for byte the MDS (but for a text ending in NUL, which loses it), or is refused
// exactly when two stream events lie more than 0x0FFFFFFF ticks apart.
void CheckMdsToSmf(const uint8_t* data, size_t size);
