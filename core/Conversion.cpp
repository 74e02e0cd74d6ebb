#include "core/Conversion.h"

#include "core/SmfReader.h"

namespace {

// Whether the first track holds a well-formed meta event of type: when it does and the lookup
// still failed, the text could not be copied for lack of memory.
bool HasFirstTrackMeta(const Song& song, uint8_t type) {
    if (!song.FirstTrack()) return false;
    for (const MidiEvent* e = song.FirstTrack()->First(); e; e = e->Next()) {
        const ByteBuffer& b = e->bytes;
        if (b.Size() < 3 || b[0] != 0xFF || b[1] != type) continue;
        uint32_t length = 0;
        const uint32_t lengthBytes = DecodeVarLen(b.Data() + 2, b.Size() - 2, length);
        if (lengthBytes != 0 && length <= b.Size() - 2 - lengthBytes) return true;
    }
    return false;
}

}  // namespace

PrepareResult PrepareSong(const uint8_t* image, uint32_t size, Song& song, ByteBuffer& title,
                          ByteBuffer& copyright) {
    title.Clear();
    copyright.Clear();
    SmfReader reader;
    if (!reader.Parse(image, size, song, true))
        return reader.OutOfMemory() ? PrepareResult::OutOfMemory : PrepareResult::NotSmf;
    if (song.Format() > 1 || song.TrackCount() == 0) return PrepareResult::NotSmf;
    // GetTitle, step by step: a name that cannot be copied must not let a text event stand in.
    if (!song.FindFirstTrackMeta(0x03, title)) {
        if (HasFirstTrackMeta(song, 0x03)) return PrepareResult::OutOfMemory;
        if (!song.FindFirstTrackMeta(0x01, title) && HasFirstTrackMeta(song, 0x01))
            return PrepareResult::OutOfMemory;
    }
    if (!song.GetCopyright(copyright) && HasFirstTrackMeta(song, 0x02))
        return PrepareResult::OutOfMemory;
    if (song.Format() == 1) song.MergeToSingleTrack();
    return PrepareResult::Ok;
}
