#include "core/Conversion.h"

#include "core/MdsWriter.h"
#include "core/StreamConversion.h"

namespace {

void Notify(ConversionObserver* observer, ConversionStep step) {
    if (observer) observer->StepDone(step);
}

// The blocks of an encoder, staged in the writer and written as they end.
class WriterSink : public BlockSink {
public:
    explicit WriterSink(MdsStreamWriter& writer) : writer(writer) {}
    uint8_t* StartBlock(uint32_t tickStart) override { return writer.StageBlock(tickStart); }
    bool EndBlock(uint32_t length) override { return writer.WriteStaged(length); }

private:
    MdsStreamWriter& writer;
};

// Reads and refuses what cannot be converted, and a song whose file could not be written.
ConversionStatus Read(StreamPlan& plan, ConversionResult& result) {
    result.status = plan.Read(result.reading);
    if (result.status == ConversionStatus::Ok && plan.LeastFileBytes() > UINT32_MAX)
        result.status = ConversionStatus::OutputTooLarge;
    return result.status;
}

// The song of a plan that was read, written to output as it is encoded.
ConversionStatus Write(StreamPlan& plan, const ConversionRequest& request, MdsOutput& output,
                       ConversionResult& result) {
    MdsStreamWriter writer(output, plan.Division(), request.options);
    WriterSink sink(writer);
    const ScannedText& title = plan.Title();
    const ScannedText& copyright = plan.Copyright();
    output.Expect(plan.LeastFileBytes());
    if (writer.Start()) {
        result.status = plan.Encode(sink, result.events);
        if (result.status == ConversionStatus::Ok &&
            !writer.Finish(title.data, title.length, copyright.data, copyright.length))
            result.status = ConversionStatus::WriteFailed;
    } else {
        result.status = ConversionStatus::WriteFailed;
    }
    // A failure of the sink reaches the encoder as running out of memory: the writer knows.
    if (writer.TooLarge())
        result.status = ConversionStatus::OutputTooLarge;
    else if (writer.OutOfMemory())
        result.status = ConversionStatus::OutOfMemory;
    else if (writer.Failed())
        result.status = ConversionStatus::WriteFailed;
    result.blocks = writer.Blocks();
    result.division = plan.Division();
    result.title = title.length ? title.data : nullptr;
    result.titleLength = title.length;
    result.copyright = copyright.length ? copyright.data : nullptr;
    result.copyrightLength = copyright.length;
    return result.status;
}

}  // namespace

ConversionResult ConvertSmf(const ConversionRequest& request, ConvertedSong& out) {
    ConversionResult result;
    out.blocks.Clear();
    out.title.Clear();
    out.copyright.Clear();
    out.options = request.options;
    {
        StreamPlan plan(request);
        if (Read(plan, result) == ConversionStatus::Ok) {
            out.division = plan.Division();
            const ScannedText& title = plan.Title();
            const ScannedText& copyright = plan.Copyright();
            if (!out.title.Assign(title.data, title.length) ||
                !out.copyright.Assign(copyright.data, copyright.length))
                result.status = ConversionStatus::OutOfMemory;
        }
        if (result.status == ConversionStatus::Ok) {
            BlockListSink sink(out.blocks, request.options);
            result.status = plan.Encode(sink, result.events);
            out.blocks.SetEventCount(result.events);
        }
    }
    Notify(request.observer, ConversionStep::Released);
    if (result.status != ConversionStatus::Ok) {
        // Whoever reports the failure may need the memory for it.
        out.blocks.Clear();
        out.title.Clear();
        out.copyright.Clear();
        result.events = 0;
        return result;
    }
    result.blocks = out.blocks.Count();
    return result;
}

ConversionResult ConvertSmfToOutput(const ConversionRequest& request, MdsOutput& output) {
    ConversionResult result;
    {
        StreamPlan plan(request);
        if (Read(plan, result) == ConversionStatus::Ok) Write(plan, request, output, result);
    }
    Notify(request.observer, ConversionStep::Released);
    if (result.status != ConversionStatus::Ok) result.blocks = result.events = 0;
    return result;
}

ConversionResult ConvertSmfToFile(const ConversionRequest& request, const char* path,
                                  bool replace) {
    ConversionResult result;
    {
        StreamPlan plan(request);
        OutputFile file;
        // The file is created only once the whole image has been read and found convertible.
        if (Read(plan, result) == ConversionStatus::Ok) {
            MdsFileOutput output(file);
            if (!file.Create(path) ||
                (Write(plan, request, output, result) == ConversionStatus::Ok &&
                 !file.Commit(replace)))
                result.status = ConversionStatus::WriteFailed;
        }
        if (result.status == ConversionStatus::WriteFailed) {
            result.errorCode = file.ErrorCode();
            if (result.errorCode == OutOfMemoryErrorCode())
                result.status = ConversionStatus::OutOfMemory;
        }
        file.Abandon();
    }
    Notify(request.observer, ConversionStep::Released);
    if (result.status != ConversionStatus::Ok) result.blocks = result.events = 0;
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
