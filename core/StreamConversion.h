// StreamConversion.h: the conversion straight from the SMF image, behind the entries of
// Conversion.h. The image is read through once without keeping an event (SmfReader::Scan), the
// End of Track events that the merge drops are played out from what the scan kept of each
// track's end, and then the tracks' events are merged as they lie in the image, one cursor per
// track, and encoded into blocks that go to a sink as they fill. Memory: the scan's few words
// per track, and the merge's window.
#pragma once
#include <cstdint>

#include "core/Conversion.h"
#include "core/SongScan.h"
#include "core/StreamEncoder.h"

class StreamPlan {
public:
    explicit StreamPlan(const ConversionRequest& request);
    StreamPlan(const StreamPlan&) = delete;
    StreamPlan& operator=(const StreamPlan&) = delete;
    ~StreamPlan();

    // The reading and every refusal that comes before anything is written: NotSmf (reading says
    // why), EventTooLarge, OutOfMemory.
    ConversionStatus Read(SmfReading& reading);

    // After Read: the song's division and texts (title: the first track's first sequence name,
    // else its first text event), inside the image.
    uint16_t Division() const { return scan.Division(); }
    const ScannedText& Title() const { return scan.name.found ? scan.name : scan.text; }
    const ScannedText& Copyright() const { return scan.copyright; }
    // The least a MIDI stream file of the song takes: every stream event, the fewest block heads
    // that can hold them, and the texts.
    uint64_t LeastFileBytes() const;

    // The merged song's events, encoded into blocks for sink: Ok or OutOfMemory (when sink fails
    // too). events receives the stream events encoded.
    ConversionStatus Encode(BlockSink& sink, uint32_t& events);

private:
    struct Walk;
    const ConversionRequest request;
    SongScan scan;
    uint32_t k = 0;  // tracks merged: every track of a format 1 song, else the first
    struct TrackPlan* tracks = nullptr;
    uint64_t packed = 0;  // the bytes of every stream event
};
