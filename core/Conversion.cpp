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

// The first steps of PrepareSong: parse, refuse, take the texts.
ConversionStatus ReadSong(const uint8_t* image, uint32_t size, Song& song, ByteBuffer& title,
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
    return ConversionStatus::Ok;
}

ConversionStatus Convert(const uint8_t* image, uint32_t size, ByteBuffer* owned,
                         const ConversionOptions& options, ConvertedSong& out,
                         ConversionObserver* observer) {
    out.blocks.Clear();
    out.options = options;
    Song song;
    ConversionStatus status = ReadSong(image, size, song, out.title, out.copyright, observer);
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
    const ConversionStatus status = ReadSong(image, size, song, title, copyright, observer);
    if (status != ConversionStatus::Ok) return status;
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

WriteResult WriteConvertedSong(const char* path, const ConvertedSong& song) {
    return WriteMdsFile(path, song.division, song.options, song.blocks, song.title, song.copyright);
}

bool WriteConvertedImage(const ConvertedSong& song, MemoryFile& out) {
    return WriteMdsImage(song.division, song.options, song.blocks, song.title, song.copyright, out);
}
