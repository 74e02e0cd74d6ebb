#include "cli/Messages.h"

#include <atomic>

#include "res/SharedTexts.h"

namespace {

struct Entry {
    Msg id;
    const char* english;
    const char* japanese;
};

// Where the Windows program has a text for the same situation, the Japanese is that text word
// for word, from the string table's own source.
const Entry Table[] = {
    {Msg::NotSmf, "This file is not a Standard MIDI File (SMF) of format 0 or 1.",
     TONFLUX_TEXT_NOT_SMF},
    {Msg::BufferSize,
     "The maximum stream buffer size is invalid.\nPlease give at least 1 KB and at most 63 KB.",
     TONFLUX_TEXT_BAD_BUFFER_SIZE},
    {Msg::SysexTooLarge,
     "A system exclusive event does not fit in a stream buffer.\n"
     "Please try a larger maximum stream buffer size.",
     TONFLUX_TEXT_SYSEX_TOO_LARGE},
    {Msg::OutputTooLarge,
     "The MIDI stream file would be 4 GB or larger, more than its format holds: the song is too "
     "large to convert.",
     "MIDI ストリーム ファイルが 4 GB 以上になり、形式の上限を超えるため、"
     "この曲は変換できません。"},
    {Msg::Unexpected, "An unexpected error has occurred.", TONFLUX_TEXT_UNEXPECTED_ERROR},
    {Msg::OutputExists, "The output file exists already. Use -f to replace it.",
     "出力ファイルが既に存在します。置き換えるには -f を指定してください。"},
    {Msg::OutputClash,
     "An earlier input writes the same output file. Use -o or -d to write elsewhere.",
     "前の入力ファイルと同じ出力ファイルになります。-o または -d で出力先を分けてください。"},
    {Msg::IsFolder, "This is a folder. Use -r to convert the MIDI files in it.",
     "フォルダーです。中の MIDI ファイルを変換するには -r を指定してください。"},
    {Msg::NoMidiFiles, "There is no MIDI file (*.mid, *.midi) to convert.",
     "変換する MIDI ファイル (*.mid, *.midi) がありません。"},
    {Msg::NoMdsFiles, "There is no MIDI stream file (*.mds) to convert.",
     "変換する MIDI ストリーム ファイル (*.mds) がありません。"},
    {Msg::NoMidiFilesLenient, "There is no MIDI file (*.mid, *.midi, *.rmi) to convert.",
     "変換する MIDI ファイル (*.mid, *.midi, *.rmi) がありません。"},
    {Msg::NotAFile, "This is not a regular file (a pipe, a device or a socket); not converted.",
     "通常のファイルではありません (パイプ、デバイスまたはソケット)。変換しません。"},
    {Msg::Duplicate, "The same file as an earlier input; converted once.",
     "前に指定された入力ファイルと同じファイルです。一度だけ変換します。"},
    {Msg::OutputIsInput,
     "The output file is also an input of this run. An input is never replaced.",
     "出力ファイルが、この実行の入力ファイルでもあります。入力ファイルは置き換えません。"},
    {Msg::NotMds, "This file is not a MIDI stream file (RIFF form MIDS).",
     "このファイルは、MIDI ストリーム ファイル (RIFF 形式 MIDS) ではありません。"},
    {Msg::DeltaTooLarge,
     "A delta time above 0x0FFFFFFF, which no standard MIDI file can hold (offset %u). A song "
     "whose ticks run backwards cannot become a MIDI file again.",
     "標準 MIDI ファイルに書けない 0x0FFFFFFF を超えるデルタ タイムがあります (オフセット %u)。"
     "ティックが逆戻りする曲は MIDI ファイルに戻せません。"},
    {Msg::TextTooLong,
     "A title or copyright of 256 MB or more, which no standard MIDI file can hold (offset %u).",
     "標準 MIDI ファイルに書けない 256MB 以上の曲名または著作権表示があります (オフセット %u)。"},
    {Msg::ReportFailed, "The conversion reports could not be written to standard output",
     "変換結果の報告を標準出力に書き込めませんでした"},
    {Msg::Converted, "%u blocks, %u events", "ブロック数 %u、イベント数 %u"},

    // Offsets in hexadecimal, as a hex viewer shows them.
    {Msg::AtHeader, "header (offset 0x%X)", "ヘッダー (オフセット 0x%X)"},
    {Msg::AtTrack, "track %u (offset 0x%X)", "トラック %u (オフセット 0x%X)"},
    {Msg::AtChunk, "chunk %u (offset 0x%X)", "チャンク %u (オフセット 0x%X)"},
    {Msg::LenientConverts, " (--lenient converts it)", " (--lenient で変換できます)"},
    {Msg::SmfCutShort, "the file ends early", "ファイルが途中で終わっています"},
    {Msg::SmfHeaderLength, "a header chunk shorter than 6 bytes",
     "ヘッダー チャンクの長さが 6 未満です"},
    {Msg::SmfFormat, "not SMF format 0 or 1", "SMF フォーマット 0 または 1 ではありません"},
    {Msg::SmfDivision, "an SMPTE frame rate in the division that does not exist",
     "時間単位 (division) の SMPTE フレーム レートが不正です"},
    {Msg::SmfMissingChunks, "fewer chunks than the header announces",
     "ヘッダーが示す数のチャンクがありません"},
    {Msg::SmfSecondHeader, "a second header chunk (MThd)",
     "2 つ目のヘッダー チャンク (MThd) があります"},
    {Msg::SmfChunkPastEnd, "a chunk length that runs past the end of the file",
     "チャンクの長さがファイルの終わりを越えています"},
    {Msg::SmfEmptyTrack, "a track chunk of length 0", "長さ 0 のトラック チャンク"},
    {Msg::SmfLongNumber, "a variable-length number of 5 bytes or more", "5 バイト以上の可変長数値"},
    {Msg::SmfDataWithoutStatus, "a data byte without running status",
     "ランニング ステータスのないデータ バイト"},
    {Msg::SmfBadStatus, "a status byte that has no place in a track (F1-F6, F8-FE)",
     "トラックに置けないステータス バイト (F1-F6, F8-FE)"},
    {Msg::SmfMetaType, "a meta event type of 0x80 or above", "0x80 以上のメタ イベント タイプ"},
    {Msg::SmfMetaLength, "a meta event of another length than its type has",
     "長さが規定と違うメタ イベント"},
    {Msg::SmfEndOfTrackNotAtEnd, "an End of Track that is not at the end of its track chunk",
     "End of Track がトラック チャンクの終わりと一致しません"},
    {Msg::SmfNoEndOfTrack, "a track chunk that ends without an End of Track",
     "End of Track のないままトラック チャンクが終わっています"},
    {Msg::SmfNoTrack, "no track chunk", "トラック チャンクがありません"},

    {Msg::UsageLine, "Usage: tonflux-convert [options] INPUT...",
     "使い方: tonflux-convert [オプション] 入力ファイル..."},
    {Msg::SeeHelp, "See tonflux-convert --help.",
     "詳しくは tonflux-convert --help を参照してください。"},
    {Msg::UnknownOption, "unknown option: ", "不明なオプションです: "},
    {Msg::MissingValue, "this option needs a value: ", "値が必要なオプションです: "},
    {Msg::BadJobs, "-j takes a whole number from 1 to %u.",
     "-j には 1 から %u までの整数を指定してください。"},
    {Msg::EmptyValue, "empty value: ", "値が空です: "},
    {Msg::OutputIsFolder, "-o takes a file; for a folder use -d: ",
     "-o にはファイルを指定してください。フォルダーには -d を使います: "},
    {Msg::NoInput, "No input file given.", "入力ファイルが指定されていません。"},
    {Msg::OutputWithMany, "-o can only be given with a single input.",
     "-o は入力ファイルが 1 つのときだけ指定できます。"},
    {Msg::OutputAndDir, "-o and -d cannot be given together.", "-o と -d は同時に指定できません。"},
    {Msg::DumpAndInput, "--dump and input files cannot be given together.",
     "--dump と入力ファイルは同時に指定できません。"},
    {Msg::HelpIntro,
     "Converts Standard MIDI Files (SMF, format 0 or 1) into MIDI stream files (*.mds), and MIDI\n"
     "stream files (known by their content) back into standard MIDI files (format 0, *.mid).",
     "標準 MIDI ファイル (SMF, フォーマット 0 / 1) を MIDI ストリーム ファイル (*.mds) "
     "に変換します。\n"
     "MIDI ストリーム ファイル (内容で判別) は、標準 MIDI ファイル (フォーマット 0, *.mid) "
     "に戻します。"},
    {Msg::HelpExit, "Exit status: 0 every input converted, 1 some input failed, 2 usage error",
     "終了コード: 0 すべて変換した、1 変換できなかった入力がある、2 使い方の誤り"},
    {Msg::HelpOutput,
     "output file (only with a single input); default: the input's\n"
     "base name with .mds (.mid on the way back), beside the input",
     "出力ファイル (入力ファイルが 1 つのときのみ)。既定: 入力ファイルと\n"
     "同じフォルダーに、拡張子を .mds (戻すときは .mid) にした名前で出力"},
    {Msg::HelpOutputDir, "write outputs into DIR", "出力ファイルを DIR に書き込む"},
    {Msg::HelpBufferKb, "maximum stream buffer size in KB, 1 to 63 (default 4)",
     "ストリーム バッファの最大サイズ (KB, 1〜63, 既定 4)"},
    {Msg::HelpNoRunningStatus,
     "do not use running status (default: use it; on the way back,\nin the SMF written)",
     "ランニング ステータスを使わない (既定: 使う。戻すときは SMF に適用)"},
    {Msg::HelpOmitStreamIds, "omit stream identifiers (default: keep them)",
     "ストリーム ID を省略する (既定: 省略しない)"},
    {Msg::HelpForce, "replace existing output files (default: refuse and report)",
     "既存の出力ファイルを置き換える (既定: 置き換えずにエラー)"},
    {Msg::HelpJobs, "convert N files at once, 1 to 1024 (default: number of cores)",
     "N 個のファイルを同時に変換する (1〜1024, 既定: CPU のコア数)"},
    {Msg::HelpRecursive,
     "an INPUT folder converts every *.mid / *.midi file below it\n(and *.rmi with --lenient)",
     "フォルダーを指定すると、その下の *.mid / *.midi をすべて変換する\n"
     "(--lenient と共に指定すると *.rmi も)"},
    {Msg::HelpLenient,
     "read files that break the rules as real files often do\n"
     "(default: refuse them, saying what is wrong where)",
     "規則に反する実際のファイルによくある誤りを補って読む\n(既定: 誤りがあれば変換しない)"},
    {Msg::HelpToMid, "only the way back: -r collects *.mds instead",
     "MIDI ストリーム ファイルだけを SMF に戻す (-r では *.mds を集める)"},
    {Msg::HelpQuiet, "only errors", "エラーだけを表示する"},
    {Msg::HelpDump, "print an MDS file's header, blocks and events; check it",
     "MDS ファイルのヘッダー、ブロック、イベントを表示し、構造を検査する"},
    {Msg::HelpHelp, "show this help", "この説明を表示する"},
    {Msg::HelpVersion, "show the version and the licence", "バージョンとライセンスを表示する"},

    {Msg::DumpOk, "The structure is sound (%u blocks, %u events).",
     "構造に誤りはありません (ブロック数 %u、イベント数 %u)。"},
    {Msg::DumpFault, "The MDS file's structure is faulty (offset %u): ",
     "MDS ファイルの構造に誤りがあります (オフセット %u): "},
    {Msg::DumpDeviation, "The structure differs from the MDS files Tonflux writes (offset %u): ",
     "Tonflux が書く MDS ファイルとは構造が異なります (オフセット %u): "},
    {Msg::DumpRiff, "RIFF MIDS: %u bytes (file %u bytes)\n",
     "RIFF MIDS: %u バイト (ファイル %u バイト)\n"},
    {Msg::DumpTicksPerQuarter, "fmt: time format 0x%08X (%u ticks/quarter note)",
     "fmt: 時間形式 0x%08X (4 分音符あたり %u ティック)"},
    {Msg::DumpSmpte, "fmt: time format 0x%08X (SMPTE %d frames/s, %u ticks/frame)",
     "fmt: 時間形式 0x%08X (SMPTE 毎秒 %d フレーム、1 フレーム %u ティック)"},
    {Msg::DumpBuffer, ", max buffer %u bytes, flags %u (%s)\n",
     "、最大バッファ %u バイト、フラグ %u (%s)\n"},
    {Msg::DumpStreamIds, "stream ids", "ストリーム ID あり"},
    {Msg::DumpNoStreamIds, "no stream ids", "ストリーム ID なし"},
    {Msg::DumpData, "data: block count %u\n", "data: ブロック数 %u\n"},
    {Msg::DumpBlock, "block %u: tickStart %u, %u bytes, offset %u\n",
     "ブロック %u: 開始ティック %u、%u バイト、オフセット %u\n"},
    {Msg::FaultNotRiff, "Not a RIFF file of form MIDS.",
     "RIFF 形式 MIDS のファイルではありません。"},
    {Msg::FaultRiffSize, "The RIFF chunk's size disagrees with the file's size.",
     "RIFF チャンクのサイズがファイルのサイズと一致しません。"},
    {Msg::FaultChunkOverrun, "A chunk runs past the end of its parent or of the file.",
     "チャンクが親チャンクまたはファイルの終わりを越えています。"},
    {Msg::FaultMissingFormat, "There is no fmt chunk or no data chunk.",
     "fmt チャンクまたは data チャンクがありません。"},
    {Msg::FaultFormatChunk, "The fmt chunk is invalid.", "fmt チャンクが不正です。"},
    {Msg::FaultTimeFormat, "The time format's SMPTE frame rate does not exist.",
     "時間形式の SMPTE フレーム レートが不正です。"},
    {Msg::FaultDataSize, "The data chunk's size disagrees with its block count and lengths.",
     "data チャンクのサイズがブロック数・ブロック長と一致しません。"},
    {Msg::FaultBlockOverrun, "A block runs past the end of the data chunk.",
     "ブロックが data チャンクの終わりを越えています。"},
    {Msg::FaultBlockAlignment, "A block length is not a multiple of 4.",
     "ブロック長が 4 の倍数ではありません。"},
    {Msg::FaultBlockTooLarge, "A block is larger than the maximum stream buffer size.",
     "ブロックがストリーム バッファの最大サイズを超えています。"},
    {Msg::FaultTickStart, "A block's start tick is not the tick of the event before it.",
     "ブロックの開始ティックが直前のイベントのティックと一致しません。"},
    {Msg::FaultEventOverrun, "An event runs past the end of its block.",
     "イベントがブロックの終わりを越えています。"},
    {Msg::FaultUnknownEventType,
     "An event of a type other than short, tempo and long, or a callback flag.",
     "ショート、テンポ、ロング以外の種類のイベント、またはコールバック フラグがあります。"},
    {Msg::FaultBadShortMessage,
     "An invalid short message (status 0xF0 or above, or no status in the first short "
     "message).",
     "不正なショート メッセージ (ステータス 0xF0 以上、または最初のショート メッセージに"
     "ステータスがない) があります。"},
    {Msg::FaultNonZeroFill, "The fill after a long message is not zero.",
     "ロング メッセージの埋め草が 0 ではありません。"},
    {Msg::FaultStreamId, "A stream identifier is not 0.", "ストリーム ID が 0 ではありません。"},
    {Msg::FaultListChunk, "A LIST chunk other than INFO, or a second LIST chunk.",
     "INFO 以外の LIST チャンク、または 2 つ目の LIST チャンクがあります。"},
    {Msg::FaultShortMessageBytes, "A short message's event word holds bytes beyond the message.",
     "ショート メッセージのイベント ワードに、メッセージ以外のバイトがあります。"},
    {Msg::FaultRunningStatusReset, "Running status right after a tempo or a long message.",
     "テンポまたはロング メッセージの直後に、ランニング ステータスが使われています。"},

    {Msg::Progress, "[%zu/%zu] ", "[%zu/%zu] "},
};

std::atomic<Language> Current{Language::English};

}  // namespace

void SetLanguage(Language language) {
    Current.store(language);
}

Language CurrentLanguage() {
    return Current.load();
}

const char* Text(Msg id) {
    return Text(id, Current.load());
}

const char* Text(Msg id, Language language) {
    // Looked up by id rather than by place, so the table's order cannot mix texts up.
    for (const Entry& entry : Table)
        if (entry.id == id) return language == Language::Japanese ? entry.japanese : entry.english;
    return "";
}
