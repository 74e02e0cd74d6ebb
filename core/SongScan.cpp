#include "core/SongScan.h"

#include <new>

#include "core/Bytes.h"
#include "core/SmfFault.h"
#include "core/StreamBlocks.h"

uint32_t TrackScanner::LongEvent(uint8_t status, const uint8_t* following, uint32_t n) {
    // The reader hands on whole events only: every read below is served.
    ByteReader r(following, n);
    const uint8_t type = status == 0xFF ? r.Byte() : 0;
    const uint32_t length = r.VarLen();
    const uint8_t* const data = r.Bytes(length);
    ScannedText* const text = status != 0xFF || song->count > 0 ? nullptr
                              : type == 0x03                    ? &song->name
                              : type == 0x01                    ? &song->text
                              : type == 0x02                    ? &song->copyright
                                                                : nullptr;
    if (text && !text->found) {
        text->data = data;
        text->length = length;
        text->found = true;
    }
    const uint64_t bytes = PackedEventBytes(status, type, length, song->options);
    if (!FitsEmptyBlock(bytes, song->options) && scan.firstTooLarge == TrackScan::NoEvent)
        scan.firstTooLarge = scan.count;
    return bytes > UINT32_MAX ? UINT32_MAX : uint32_t(bytes);
}

SongScan::~SongScan() {
    ReleaseTracks();
}

void SongScan::ReleaseTracks() {
    delete[] tracks;
    tracks = nullptr;
    count = capacity = 0;
}

void SongScan::Reset() {
    format = division = 0;
    ReleaseTracks();
    name = text = copyright = ScannedText();
}

bool SongScan::SetFormat(uint16_t value) {
    if (!IsSmfFormat(value)) return false;
    format = value;
    return true;
}

bool SongScan::SetDivision(uint16_t value) {
    if (!IsValidDivision(value)) return false;
    division = value;
    return true;
}

TrackScanner* SongScan::AppendTrack() {
    // Room for the track is taken now, so that its end cannot fail.
    if (count == capacity) {
        const uint32_t more = capacity ? 2 * capacity : 16;
        TrackScan* grown = new (std::nothrow) TrackScan[more];
        if (!grown) return nullptr;
        for (uint32_t i = 0; i < count; ++i) grown[i] = tracks[i];
        delete[] tracks;
        tracks = grown;
        capacity = more;
    }
    scanner = TrackScanner();
    scanner.song = this;
    scanner.shortBytes = PackedShortBytes(options);
    return &scanner;
}

bool SongScan::EndTrack(const uint8_t* begin, uint32_t bytes, bool endAdded) {
    scanner.scan.begin = begin;
    scanner.scan.bytes = bytes;
    scanner.scan.endAdded = endAdded;
    tracks[count++] = scanner.scan;
    return true;
}
