#include "core/SongConversion.h"

#include "core/SmfReader.h"

namespace {

// Whether the first track holds a well-formed meta event of type: when it does and the lookup
// still failed, the text could not be copied for lack of memory.
bool HasFirstTrackMeta(const Song& song, uint8_t type) {
    if (!song.FirstTrack()) return false;
    for (const MidiEvent* e = song.FirstTrack()->First(); e; e = e->Next()) {
        EventView view;
        if (e->View(view) && view.IsMeta(type)) return true;
    }
    return false;
}

void Notify(ConversionObserver* observer, ConversionStep step) {
    if (observer) observer->StepDone(step);
}

// The first steps of PrepareSong: read as the request says, refuse, take the texts.
ConversionStatus ReadSong(const ConversionRequest& request, SmfReading& reading, Song& song,
                          ByteBuffer& title, ByteBuffer& copyright) {
    title.Clear();
    copyright.Clear();
    reading = SmfReading();
    SmfReader reader(request.mode);
    const bool parsed = reader.Parse(request.image, request.size, song, true);
    reading.mends = reader.Mends();
    Notify(request.observer, ConversionStep::Parsed);
    if (!parsed) {
        if (reader.OutOfMemory()) return ConversionStatus::OutOfMemory;
        reading.fault = reader.Fault();
        if (request.mode == SmfReadMode::Strict) {
            song.Reset();  // the failed song's memory is free for the lenient conversion
            ConversionRequest lenient = request;
            lenient.mode = SmfReadMode::Lenient;
            lenient.observer = nullptr;
            ConvertedSong converted;
            reading.lenientConverts =
                ConvertSmfThroughSong(lenient, converted).status == ConversionStatus::Ok;
        }
        return ConversionStatus::NotSmf;
    }
    // Neither depends on the mode, so no second reading.
    if (!IsConvertible(song.Format(), song.TrackCount())) {
        reading.fault = UnconvertibleFault(song.Format(), reader.HeaderOffset());
        return ConversionStatus::NotSmf;
    }
    // GetTitle, step by step: a name that cannot be copied must not let a text event stand in.
    if (!song.FindFirstTrackMeta(0x03, title)) {
        if (HasFirstTrackMeta(song, 0x03)) return ConversionStatus::OutOfMemory;
        if (!song.FindFirstTrackMeta(0x01, title) && HasFirstTrackMeta(song, 0x01))
            return ConversionStatus::OutOfMemory;
    }
    if (!song.GetCopyright(copyright) && HasFirstTrackMeta(song, 0x02))
        return ConversionStatus::OutOfMemory;
    return ConversionStatus::Ok;
}

}  // namespace

ConversionStatus PrepareSong(const ConversionRequest& request, Song& song, ByteBuffer& title,
                             ByteBuffer& copyright, SmfReading* reading) {
    SmfReading found;
    const ConversionStatus status = ReadSong(request, found, song, title, copyright);
    if (reading) *reading = found;
    if (status != ConversionStatus::Ok) return status;
    if (song.Format() == 1 && !song.MergeToSingleTrack()) return ConversionStatus::OutOfMemory;
    Notify(request.observer, ConversionStep::Merged);
    return ConversionStatus::Ok;
}

ConversionResult ConvertSmfThroughSong(const ConversionRequest& request, ConvertedSong& out,
                                       ByteBuffer* image) {
    ConversionResult result;
    out.blocks.Clear();
    out.options = request.options;
    Song song;
    result.status = ReadSong(request, result.reading, song, out.title, out.copyright);
    // The song holds its own copy of every event: the image is only weight from here on, but
    // its pages, touched already, can take stream blocks.
    if (image) {
        if (result.status == ConversionStatus::Ok)
            out.blocks.Adopt(static_cast<ByteBuffer&&>(*image));
        else
            image->Clear();
    }
    if (result.status == ConversionStatus::Ok) {
        Notify(request.observer, ConversionStep::Merged);
        out.division = song.Division();
        // A format 1 song is encoded straight from its merge, which leaves it unmerged: it is
        // released right after.
        const BuildResult built =
            song.Format() == 1 && song.TrackCount() >= 2
                ? BuildMergedStreamBlocks(song, request.options, out.blocks)
                : BuildStreamBlocks(*song.FirstTrack(), request.options, out.blocks);
        switch (built) {
            case BuildResult::Ok:
                break;
            case BuildResult::EventTooLarge:
                result.status = ConversionStatus::EventTooLarge;
                break;
            case BuildResult::OutOfMemory:
                result.status = ConversionStatus::OutOfMemory;
                break;
        }
        Notify(request.observer, ConversionStep::Encoded);
    }
    song.Reset();
    Notify(request.observer, ConversionStep::Released);
    if (result.status != ConversionStatus::Ok) {
        // Whoever reports the failure may need the memory for it.
        out.blocks.Clear();
        out.title.Clear();
        out.copyright.Clear();
        return result;
    }
    result.blocks = out.blocks.Count();
    result.events = out.blocks.EventCount();
    return result;
}
