#include "core/Conversion.h"

#include "core/MdsWriter.h"
#include "core/SongConversion.h"

ConversionResult ConvertSmf(const ConversionRequest& request, ConvertedSong& out) {
    return ConvertSmfThroughSong(request, out);
}

ConversionResult ConvertSmfToOutput(const ConversionRequest& request, MdsOutput& output) {
    ConvertedSong song;
    ConversionResult result = ConvertSmf(request, song);
    if (result.status != ConversionStatus::Ok) return result;
    MemoryFile image(1 << 16);
    if (!WriteConvertedImage(song, image)) {
        result.status = ConversionStatus::OutputTooLarge;
        return result;
    }
    if (!output.Write(image.Data(), image.GetLength()))
        result.status = ConversionStatus::WriteFailed;
    return result;
}

ConversionResult ConvertSmfToFile(const ConversionRequest& request, const char* path,
                                  bool replace) {
    ConvertedSong song;
    ConversionResult result = ConvertSmf(request, song);
    if (result.status != ConversionStatus::Ok) return result;
    const WriteResult written = WriteConvertedSong(path, song, replace);
    if (!written.ok) {
        result.errorCode = written.errorCode;
        result.status = written.errorCode == OutOfMemoryErrorCode() ? ConversionStatus::OutOfMemory
                                                                    : ConversionStatus::WriteFailed;
    }
    return result;
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
