// SongScan.h: an SMF read through without keeping a single event (SmfReader::Scan): the header's
// fields, the first track's texts and, for every track chunk, where its events lie and what a
// conversion straight from the image must know before it merges: how many events there are, the
// bytes they pack into, and the ticks of the last few, which decide the End of Track events that
// the merge drops.
#pragma once
#include <cstdint>

#include "core/ConversionOptions.h"

// One of a track's last events.
struct EventEnd {
    uint32_t tick = 0;
    uint32_t key = 0;     // the largest tick of its track up to and including it
    uint32_t packed = 0;  // the bytes it takes in a block; 0 for an event that is not encoded
};

// What the scan keeps of one track chunk.
struct TrackScan {
    static constexpr uint32_t NoEvent = UINT32_MAX;
    static constexpr uint32_t TailSize = 2;

    const uint8_t* begin = nullptr;  // the chunk's events, as far as the reading took them
    uint32_t bytes = 0;
    uint32_t count = 0;     // events as the reading stores them
    bool endAdded = false;  // the last of them is an End of Track the lenient reading added
    uint32_t firstTick = 0;
    uint64_t packed = 0;               // the bytes all its events take in blocks
    uint32_t firstTooLarge = NoEvent;  // the first event that not even an empty block holds
    EventEnd tail[TailSize];           // the last events, event n at n % TailSize

    const EventEnd& End(uint32_t n) const { return tail[n % TailSize]; }
};

// The data bytes of a meta event of the first track, inside the image.
struct ScannedText {
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    bool found = false;
};

class SongScan;

// The track chunk being read: takes its events as Track::Append takes them.
class TrackScanner {
public:
    bool Append(uint8_t status, const uint8_t* following, uint32_t n, uint32_t tick) {
        const uint32_t bytes = status < 0xF0 ? shortBytes : LongEvent(status, following, n);
        if (scan.count == 0) scan.firstTick = tick;
        if (tick > key) key = tick;
        scan.packed += bytes;
        EventEnd& end = scan.tail[scan.count % TrackScan::TailSize];
        end.tick = tick;
        end.key = key;
        end.packed = bytes;
        ++scan.count;
        return true;
    }
    bool Empty() const { return scan.count == 0; }
    uint32_t LastTick() const { return scan.count ? scan.End(scan.count - 1).tick : 0; }

private:
    friend class SongScan;
    uint32_t LongEvent(uint8_t status, const uint8_t* following, uint32_t n);

    SongScan* song = nullptr;
    TrackScan scan;
    uint32_t key = 0;
    uint32_t shortBytes = 0;
};

class SongScan {
public:
    explicit SongScan(const ConversionOptions& options) : options(options) {}
    SongScan(const SongScan&) = delete;
    SongScan& operator=(const SongScan&) = delete;
    ~SongScan();

    // The reading's side, as Song offers it, and the end of each track chunk read.
    void Reset();
    bool SetFormat(uint16_t value);
    bool SetDivision(uint16_t value);
    TrackScanner* AppendTrack();  // null when memory runs out
    bool EndTrack(const uint8_t* begin, uint32_t bytes, bool endAdded);

    uint16_t Format() const { return format; }
    uint16_t Division() const { return division; }
    uint32_t TrackCount() const { return count; }
    const TrackScan& Track(uint32_t i) const { return tracks[i]; }
    const ConversionOptions& Options() const { return options; }
    // Releases what the scan keeps of the tracks.
    void ReleaseTracks();

    // The first track's first sequence name, text event and copyright notice.
    ScannedText name, text, copyright;

private:
    friend class TrackScanner;

    const ConversionOptions options;
    uint16_t format = 0;
    uint16_t division = 0;
    TrackScan* tracks = nullptr;
    uint32_t count = 0;  // tracks read whole
    uint32_t capacity = 0;
    TrackScanner scanner;  // the track being read
};
