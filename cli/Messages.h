// Messages.h: every text tonflux-convert shows, in English and in Japanese, in one table. The
// language follows the user's locale. The texts the Windows program shows too come from
// res/SharedTexts.h, the string table's own source, so the two cannot drift apart.
#pragma once

enum class Msg {
    // Conversion results, one file each
    NotSmf,
    BufferSize,
    SysexTooLarge,
    OutputTooLarge,
    Unexpected,
    OutputExists,
    OutputClash,
    IsFolder,
    NoMidiFiles,
    NoMdsFiles,
    NoMidiFilesLenient,
    NotAFile,
    Duplicate,
    OutputIsInput,
    NotMds,
    DeltaTooLarge,
    TextTooLong,
    ReportFailed,
    Converted,
    // Where a refused SMF is wrong, and what is wrong there
    AtHeader,
    AtTrack,
    AtChunk,
    LenientConverts,
    SmfCutShort,
    SmfHeaderLength,
    SmfFormat,
    SmfDivision,
    SmfMissingChunks,
    SmfSecondHeader,
    SmfChunkPastEnd,
    SmfEmptyTrack,
    SmfLongNumber,
    SmfDataWithoutStatus,
    SmfBadStatus,
    SmfMetaType,
    SmfMetaLength,
    SmfEndOfTrackNotAtEnd,
    SmfNoEndOfTrack,
    SmfNoTrack,
    // Usage
    UsageLine,
    SeeHelp,
    UnknownOption,
    MissingValue,
    BadJobs,
    EmptyValue,
    OutputIsFolder,
    NoInput,
    OutputWithMany,
    OutputAndDir,
    DumpAndInput,
    // --help: the text around the options, and each option's description
    HelpIntro,
    HelpExit,
    HelpOutput,
    HelpOutputDir,
    HelpBufferKb,
    HelpNoRunningStatus,
    HelpOmitStreamIds,
    HelpForce,
    HelpJobs,
    HelpRecursive,
    HelpLenient,
    HelpToMid,
    HelpQuiet,
    HelpDump,
    HelpHelp,
    HelpVersion,
    // --dump
    DumpOk,
    DumpFault,
    DumpDeviation,
    DumpRiff,
    DumpTicksPerQuarter,
    DumpSmpte,
    DumpBuffer,
    DumpStreamIds,
    DumpNoStreamIds,
    DumpData,
    DumpBlock,
    FaultNotRiff,
    FaultRiffSize,
    FaultChunkOverrun,
    FaultMissingFormat,
    FaultFormatChunk,
    FaultTimeFormat,
    FaultDataSize,
    FaultBlockOverrun,
    FaultBlockAlignment,
    FaultBlockTooLarge,
    FaultTickStart,
    FaultEventOverrun,
    FaultUnknownEventType,
    FaultBadShortMessage,
    FaultNonZeroFill,
    FaultStreamId,
    FaultListChunk,
    FaultShortMessageBytes,
    FaultRunningStatusReset,
    // Progress
    Progress,
    Count  // not a message
};

enum class Language { English, Japanese };

// The language of the user's locale: Japanese when it selects Japanese (LC_ALL, LC_MESSAGES or
// LANG on POSIX systems; the user interface language on Windows), English otherwise.
Language UserLanguage();
// The language Text speaks from now on; English until set.
void SetLanguage(Language language);
Language CurrentLanguage();

// The text of id, UTF-8, in the current language; some are printf formats.
const char* Text(Msg id);
// The text of id in language; empty only for an id the table lacks.
const char* Text(Msg id, Language language);
