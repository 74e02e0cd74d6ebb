#include "cli/Refusals.h"

#include <cstdio>

namespace {

// A text of the table with its one number filled in.
std::string Filled(Msg id, Language language, unsigned number) {
    char text[512];
    std::snprintf(text, sizeof text, Text(id, language), number);
    return text;
}

}  // namespace

const char* SmfFaultText(SmfFaultKind kind, Language language) {
    switch (kind) {
        case SmfFaultKind::None:
        case SmfFaultKind::NotSmf:
            return Text(Msg::NotSmf, language);
        case SmfFaultKind::CutShort:
            return Text(Msg::SmfCutShort, language);
        case SmfFaultKind::HeaderLength:
            return Text(Msg::SmfHeaderLength, language);
        case SmfFaultKind::Format:
            return Text(Msg::SmfFormat, language);
        case SmfFaultKind::Division:
            return Text(Msg::SmfDivision, language);
        case SmfFaultKind::MissingChunks:
            return Text(Msg::SmfMissingChunks, language);
        case SmfFaultKind::SecondHeader:
            return Text(Msg::SmfSecondHeader, language);
        case SmfFaultKind::ChunkPastEnd:
            return Text(Msg::SmfChunkPastEnd, language);
        case SmfFaultKind::EmptyTrack:
            return Text(Msg::SmfEmptyTrack, language);
        case SmfFaultKind::LongNumber:
            return Text(Msg::SmfLongNumber, language);
        case SmfFaultKind::DataWithoutStatus:
            return Text(Msg::SmfDataWithoutStatus, language);
        case SmfFaultKind::BadStatus:
            return Text(Msg::SmfBadStatus, language);
        case SmfFaultKind::MetaType:
            return Text(Msg::SmfMetaType, language);
        case SmfFaultKind::MetaLength:
            return Text(Msg::SmfMetaLength, language);
        case SmfFaultKind::EndOfTrackNotAtEnd:
            return Text(Msg::SmfEndOfTrackNotAtEnd, language);
        case SmfFaultKind::NoEndOfTrack:
            return Text(Msg::SmfNoEndOfTrack, language);
        case SmfFaultKind::NoTrack:
            return Text(Msg::SmfNoTrack, language);
    }
    return Text(Msg::NotSmf, language);
}

std::string SmfRefusal(const SmfFault& fault, bool lenientConverts, Language language) {
    std::string text;
    if (fault.kind == SmfFaultKind::None || fault.kind == SmfFaultKind::NotSmf) {
        text = Text(Msg::NotSmf, language);
    } else {
        char where[128];
        if (fault.chunk == 0)
            std::snprintf(where, sizeof where, Text(Msg::AtHeader, language),
                          unsigned(fault.offset));
        else
            std::snprintf(where, sizeof where,
                          Text(fault.trackChunk ? Msg::AtTrack : Msg::AtChunk, language),
                          unsigned(fault.chunk), unsigned(fault.offset));
        text = std::string(where) + ": " + SmfFaultText(fault.kind, language);
    }
    if (lenientConverts) text += Text(Msg::LenientConverts, language);
    return text;
}

std::string ConversionRefusal(ConversionStatus status, const SmfFault& fault, bool lenientConverts,
                              Language language) {
    switch (status) {
        case ConversionStatus::NotSmf:
            return SmfRefusal(fault, lenientConverts, language);
        case ConversionStatus::EventTooLarge:
            return OneLine(Text(Msg::SysexTooLarge, language));
        case ConversionStatus::OutputTooLarge:
            return OneLine(Text(Msg::OutputTooLarge, language));
        case ConversionStatus::Ok:
        case ConversionStatus::OutOfMemory:
        case ConversionStatus::WriteFailed:
            break;
    }
    return "";
}

const char* MdsFaultText(MdsFault fault, Language language) {
    switch (fault) {
        case MdsFault::None:
            return "";
        case MdsFault::NotRiff:
            return Text(Msg::FaultNotRiff, language);
        case MdsFault::RiffSize:
            return Text(Msg::FaultRiffSize, language);
        case MdsFault::ChunkOverrun:
            return Text(Msg::FaultChunkOverrun, language);
        case MdsFault::MissingFormat:
            return Text(Msg::FaultMissingFormat, language);
        case MdsFault::FormatChunk:
            return Text(Msg::FaultFormatChunk, language);
        case MdsFault::TimeFormat:
            return Text(Msg::FaultTimeFormat, language);
        case MdsFault::DataSize:
            return Text(Msg::FaultDataSize, language);
        case MdsFault::BlockOverrun:
            return Text(Msg::FaultBlockOverrun, language);
        case MdsFault::BlockAlignment:
            return Text(Msg::FaultBlockAlignment, language);
        case MdsFault::BlockTooLarge:
            return Text(Msg::FaultBlockTooLarge, language);
        case MdsFault::TickStart:
            return Text(Msg::FaultTickStart, language);
        case MdsFault::EventOverrun:
            return Text(Msg::FaultEventOverrun, language);
        case MdsFault::UnknownEventType:
            return Text(Msg::FaultUnknownEventType, language);
        case MdsFault::BadShortMessage:
            return Text(Msg::FaultBadShortMessage, language);
        case MdsFault::NonZeroFill:
            return Text(Msg::FaultNonZeroFill, language);
        case MdsFault::StreamId:
            return Text(Msg::FaultStreamId, language);
        case MdsFault::ListChunk:
            return Text(Msg::FaultListChunk, language);
        case MdsFault::ShortMessageBytes:
            return Text(Msg::FaultShortMessageBytes, language);
        case MdsFault::RunningStatusReset:
            return Text(Msg::FaultRunningStatusReset, language);
    }
    return "";
}

std::string MdsFaultAt(const MdsCheck& check, bool departure, Language language) {
    return Filled(departure ? Msg::DumpDeviation : Msg::DumpFault, language,
                  unsigned(check.offset)) +
           MdsFaultText(check.fault, language);
}

std::string MdsRefusal(MdsConversionStatus status, const MdsCheck& fault, Language language) {
    switch (status) {
        case MdsConversionStatus::Ok:
            return "";
        case MdsConversionStatus::NotMds:
            return Text(Msg::NotMds, language);
        case MdsConversionStatus::Malformed:
            return MdsFaultAt(fault, false, language);
        case MdsConversionStatus::DeltaTooLarge:
            return Filled(Msg::DeltaTooLarge, language, unsigned(fault.offset));
        case MdsConversionStatus::TextTooLong:
            return Filled(Msg::TextTooLong, language, unsigned(fault.offset));
    }
    return Text(Msg::Unexpected, language);
}

std::string OneLine(const std::string& text) {
    static const char FullStop[] = "\xE3\x80\x82";  // 。
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n' && text[i] != '\r') {
            out += text[i];
            continue;
        }
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        const bool afterFullStop = out.size() >= 3 && out.compare(out.size() - 3, 3, FullStop) == 0;
        if (i + 1 < text.size() && !afterFullStop) out += ' ';
    }
    return out;
}
