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

ConversionStatus Convert(const uint8_t* image, uint32_t size, ByteBuffer* owned,
                         const ConversionOptions& options, ConvertedSong& out,
                         ConversionObserver* observer) {
    out.blocks.Clear();
    out.options = options;
    Song song;
    ConversionStatus status = PrepareSong(image, size, song, out.title, out.copyright, observer);
    // The song holds its own copy of every event: the image is only weight from here on.
    if (owned) owned->Clear();
    if (status == ConversionStatus::Ok) {
        out.division = song.Division();
        switch (BuildStreamBlocks(*song.FirstTrack(), options, out.blocks)) {
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
    title.Clear();
    copyright.Clear();
    SmfReader reader;
    const bool parsed = reader.Parse(image, size, song, true);
    Notify(observer, ConversionStep::Parsed);
    if (!parsed)
        return reader.OutOfMemory() ? ConversionStatus::OutOfMemory : ConversionStatus::NotSmf;
    if (song.Format() > 1 || song.TrackCount() == 0) return ConversionStatus::NotSmf;
    // GetTitle, step by step: a name that cannot be copied must not let a text event stand in.
    if (!song.FindFirstTrackMeta(0x03, title)) {
        if (HasFirstTrackMeta(song, 0x03)) return ConversionStatus::OutOfMemory;
        if (!song.FindFirstTrackMeta(0x01, title) && HasFirstTrackMeta(song, 0x01))
            return ConversionStatus::OutOfMemory;
    }
    if (!song.GetCopyright(copyright) && HasFirstTrackMeta(song, 0x02))
        return ConversionStatus::OutOfMemory;
    if (song.Format() == 1 && !song.MergeToSingleTrack()) return ConversionStatus::OutOfMemory;
    Notify(observer, ConversionStep::Merged);
    return ConversionStatus::Ok;
}

ConversionStatus ConvertSmf(ByteBuffer& image, const ConversionOptions& options, ConvertedSong& out,
                            ConversionObserver* observer) {
    return Convert(image.Data(), image.Size(), &image, options, out, observer);
}

ConversionStatus ConvertSmf(const uint8_t* image, uint32_t size, const ConversionOptions& options,
                            ConvertedSong& out, ConversionObserver* observer) {
    return Convert(image, size, nullptr, options, out, observer);
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
