#include "core/Conversion.h"

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

// Whether the lenient mode would convert image; song is scratch space, left empty.
bool LenientReads(const uint8_t* image, uint32_t size, Song& song) {
    SmfReader lenient(SmfReadMode::Lenient);
    const bool reads =
        lenient.Parse(image, size, song, true) && song.Format() <= 1 && song.TrackCount() > 0;
    song.Reset();
    return reads;
}

// The first steps of PrepareSong: parse as reading.mode says, refuse, take the texts.
ConversionStatus ReadSong(const uint8_t* image, uint32_t size, SmfReading& reading, Song& song,
                          ByteBuffer& title, ByteBuffer& copyright, ConversionObserver* observer) {
    title.Clear();
    copyright.Clear();
    reading.fault = SmfFault();
    reading.lenientReads = false;
    SmfReader reader(reading.mode);
    const bool parsed = reader.Parse(image, size, song, true);
    reading.mends = reader.Mends();
    Notify(observer, ConversionStep::Parsed);
    if (!parsed) {
        if (reader.OutOfMemory()) return ConversionStatus::OutOfMemory;
        reading.fault = reader.Fault();
        if (reading.mode == SmfReadMode::Strict) {
            song.Reset();  // the failed song's memory is free for the second reading
            reading.lenientReads = LenientReads(image, size, song);
        }
        return ConversionStatus::NotSmf;
    }
    // Neither depends on the mode, so no second reading; the chunk count follows the format.
    if (song.Format() > 1 || song.TrackCount() == 0) {
        reading.fault.kind = song.Format() > 1 ? SmfFaultKind::Format : SmfFaultKind::NoTrack;
        reading.fault.offset = reader.HeaderOffset() + (song.Format() > 1 ? 8 : 10);
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

ConversionStatus Convert(const uint8_t* image, uint32_t size, ByteBuffer* owned,
                         const ConversionOptions& options, SmfReading& reading, ConvertedSong& out,
                         ConversionObserver* observer) {
    out.blocks.Clear();
    out.options = options;
    Song song;
    ConversionStatus status =
        ReadSong(image, size, reading, song, out.title, out.copyright, observer);
    // The song holds its own copy of every event: the image is only weight from here on, but
    // its pages, touched already, can take stream blocks.
    if (owned) {
        if (status == ConversionStatus::Ok)
            out.blocks.Adopt(static_cast<ByteBuffer&&>(*owned));
        else
            owned->Clear();
    }
    if (status == ConversionStatus::Ok) {
        Notify(observer, ConversionStep::Merged);
        out.division = song.Division();
        // A format 1 song is encoded straight from its merge, which leaves it unmerged: it is
        // released right after.
        const BuildResult built = song.Format() == 1 && song.TrackCount() >= 2
                                      ? BuildMergedStreamBlocks(song, options, out.blocks)
                                      : BuildStreamBlocks(*song.FirstTrack(), options, out.blocks);
        switch (built) {
            case BuildResult::Ok:
                break;
            case BuildResult::EventTooLarge:
                status = ConversionStatus::EventTooLarge;
                break;
            case BuildResult::OutOfMemory:
                status = ConversionStatus::OutOfMemory;
                break;
        }
        Notify(observer, ConversionStep::Encoded);
    }
    song.Reset();
    Notify(observer, ConversionStep::Released);
    if (status != ConversionStatus::Ok) {
        // Whoever reports the failure may need the memory for it.
        out.blocks.Clear();
        out.title.Clear();
        out.copyright.Clear();
    }
    return status;
}

}  // namespace

ConversionStatus PrepareSong(const uint8_t* image, uint32_t size, Song& song, ByteBuffer& title,
                             ByteBuffer& copyright, ConversionObserver* observer) {
    SmfReading reading;
    return PrepareSong(image, size, reading, song, title, copyright, observer);
}

ConversionStatus PrepareSong(const uint8_t* image, uint32_t size, SmfReading& reading, Song& song,
                             ByteBuffer& title, ByteBuffer& copyright,
                             ConversionObserver* observer) {
    const ConversionStatus status =
        ReadSong(image, size, reading, song, title, copyright, observer);
    if (status != ConversionStatus::Ok) return status;
    if (song.Format() == 1 && !song.MergeToSingleTrack()) return ConversionStatus::OutOfMemory;
    Notify(observer, ConversionStep::Merged);
    return ConversionStatus::Ok;
}

ConversionStatus ConvertSmf(ByteBuffer& image, const ConversionOptions& options, ConvertedSong& out,
                            ConversionObserver* observer) {
    SmfReading reading;
    return ConvertSmf(image, options, reading, out, observer);
}

ConversionStatus ConvertSmf(const uint8_t* image, uint32_t size, const ConversionOptions& options,
                            ConvertedSong& out, ConversionObserver* observer) {
    SmfReading reading;
    return ConvertSmf(image, size, options, reading, out, observer);
}

ConversionStatus ConvertSmf(ByteBuffer& image, const ConversionOptions& options,
                            SmfReading& reading, ConvertedSong& out, ConversionObserver* observer) {
    return Convert(image.Data(), image.Size(), &image, options, reading, out, observer);
}

ConversionStatus ConvertSmf(const uint8_t* image, uint32_t size, const ConversionOptions& options,
                            SmfReading& reading, ConvertedSong& out, ConversionObserver* observer) {
    return Convert(image, size, nullptr, options, reading, out, observer);
}

WriteResult WriteConvertedSong(const char* path, const ConvertedSong& song, bool replace) {
    return WriteMdsFile(path, song.division, song.options, song.blocks, song.title, song.copyright,
                        replace);
}

bool WriteConvertedImage(const ConvertedSong& song, MemoryFile& out) {
    return WriteMdsImage(song.division, song.options, song.blocks, song.title, song.copyright, out);
}

MdsConversionStatus ConvertMds(const uint8_t* image, uint32_t size, bool useRunningStatus,
                               ConvertedMidi& out) {
    return PlanSmf(image, size, useRunningStatus, out);
}

WriteResult WriteConvertedMidi(const char* path, const ConvertedMidi& midi, bool replace) {
    return WriteSmfFile(path, midi, replace);
}

bool WriteConvertedMidiImage(const ConvertedMidi& midi, MemoryFile& out) {
    return WriteSmfImage(midi, out);
}
