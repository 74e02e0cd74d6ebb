// Texts.h: the converter's own texts, in UTF-8. Where the desktop program has a text for the same
// situation, it is that text word for word.
#pragma once
#include "core/SmfReader.h"

namespace Texts {

constexpr const char* NotSmf =
    "このファイルは、標準 MIDI ファイル (SMF) フォーマット 0 または 1 ではありません。";
constexpr const char* BufferSize =
    "ストリーム バッファの最大サイズが不正です。\n1KB 以上 63KB 以下にしてください。";
constexpr const char* SysexTooLarge =
    "ストリーム バッファに収まらない Sysex イベントが存在します。\n"
    "ストリーム バッファの最大サイズを大きくしてみてください。";
constexpr const char* Unexpected = "予期しないエラーが発生しました。";
constexpr const char* OutputExists =
    "出力ファイルが既に存在します。置き換えるには -f を指定してください。";
constexpr const char* OutputClash =
    "前の入力ファイルと同じ出力ファイルになります。-o または -d で出力先を分けてください。";
constexpr const char* IsFolder =
    "フォルダーです。中の MIDI ファイルを変換するには -r を指定してください。";
constexpr const char* NoMidiFiles = "変換する MIDI ファイル (*.mid, *.midi) がありません。";
constexpr const char* NoMidiFilesLenient =
    "変換する MIDI ファイル (*.mid, *.midi, *.rmi) がありません。";
constexpr const char* Converted = "ブロック数 %u、イベント数 %u";

// Where a refused file is wrong, before what is wrong there; offsets in hexadecimal.
constexpr const char* AtHeader = "ヘッダー (オフセット 0x%X)";
constexpr const char* AtTrack = "トラック %u (オフセット 0x%X)";
constexpr const char* AtChunk = "チャンク %u (オフセット 0x%X)";
constexpr const char* LenientConverts = " (--lenient で変換できます)";

// What is wrong with a refused file; NotSmf and None say it is no MIDI file at all.
inline const char* FaultText(SmfFaultKind kind) {
    switch (kind) {
        case SmfFaultKind::None:
        case SmfFaultKind::NotSmf:
            return NotSmf;
        case SmfFaultKind::CutShort:
            return "ファイルが途中で終わっています";
        case SmfFaultKind::HeaderLength:
            return "ヘッダー チャンクの長さが 6 未満です";
        case SmfFaultKind::Format:
            return "SMF フォーマット 0 または 1 ではありません";
        case SmfFaultKind::Division:
            return "時間単位 (division) の SMPTE フレーム レートが不正です";
        case SmfFaultKind::MissingChunks:
            return "ヘッダーが示す数のチャンクがありません";
        case SmfFaultKind::SecondHeader:
            return "2 つ目のヘッダー チャンク (MThd) があります";
        case SmfFaultKind::ChunkPastEnd:
            return "チャンクの長さがファイルの終わりを越えています";
        case SmfFaultKind::EmptyTrack:
            return "長さ 0 のトラック チャンク";
        case SmfFaultKind::LongNumber:
            return "5 バイト以上の可変長数値";
        case SmfFaultKind::DataWithoutStatus:
            return "ランニング ステータスのないデータ バイト";
        case SmfFaultKind::BadStatus:
            return "トラックに置けないステータス バイト (F1-F6, F8-FE)";
        case SmfFaultKind::MetaType:
            return "0x80 以上のメタ イベント タイプ";
        case SmfFaultKind::MetaLength:
            return "長さが規定と違うメタ イベント";
        case SmfFaultKind::EndOfTrackNotAtEnd:
            return "End of Track がトラック チャンクの終わりと一致しません";
        case SmfFaultKind::NoEndOfTrack:
            return "End of Track のないままトラック チャンクが終わっています";
        case SmfFaultKind::NoTrack:
            return "トラック チャンクがありません";
    }
    return NotSmf;
}

constexpr const char* UsageLine = "使い方: tonflux-convert [オプション] 入力ファイル...";
constexpr const char* SeeHelp = "詳しくは tonflux-convert --help を参照してください。";
constexpr const char* UnknownOption = "不明なオプションです: ";
constexpr const char* MissingValue = "値が必要なオプションです: ";
constexpr const char* BadJobs = "-j には 1 以上の整数を指定してください。";
constexpr const char* NoInput = "入力ファイルが指定されていません。";
constexpr const char* OutputWithMany = "-o は入力ファイルが 1 つのときだけ指定できます。";
constexpr const char* OutputAndDir = "-o と -d は同時に指定できません。";
constexpr const char* DumpAndInput = "--dump と入力ファイルは同時に指定できません。";

constexpr const char* Help =
    "使い方: tonflux-convert [オプション] 入力ファイル...\n"
    "標準 MIDI ファイル (SMF, フォーマット 0 / 1) を MIDI ストリーム ファイル (*.mds) "
    "に変換します。\n"
    "\n"
    "  -o, --output FILE        出力ファイル (入力ファイルが 1 つのときのみ)。既定: "
    "入力ファイルと\n"
    "                           同じフォルダーに、拡張子を .mds にした名前で出力\n"
    "  -d, --output-dir DIR     出力ファイルを DIR に書き込む\n"
    "  -k, --buffer-kb N        ストリーム バッファの最大サイズ (KB, 1〜63, 既定 4)\n"
    "      --no-running-status  ランニング ステータスを使わない (既定: 使う)\n"
    "      --omit-stream-ids    ストリーム ID を省略する (既定: 省略しない)\n"
    "  -f, --force              既存の出力ファイルを置き換える (既定: 置き換えずにエラー)\n"
    "  -j, --jobs N             N 個のファイルを同時に変換する (既定: CPU のコア数)\n"
    "  -r, --recursive          フォルダーを指定すると、その下の *.mid / *.midi をすべて変換する\n"
    "                           (--lenient と共に指定すると *.rmi も)\n"
    "      --lenient            規則に反する実際のファイルによくある誤りを補って読む\n"
    "                           (既定: 誤りがあれば変換しない)\n"
    "  -q, --quiet              エラーだけを表示する\n"
    "      --dump FILE.mds      MDS "
    "ファイルのヘッダー、ブロック、イベントを表示し、構造を検査する\n"
    "  -h, --help               この説明を表示する\n"
    "      --version            バージョンを表示する\n"
    "\n"
    "終了コード: 0 すべて変換した、1 変換できなかった入力がある、2 使い方の誤り\n";

constexpr const char* DumpOk = "構造に誤りはありません (ブロック数 %u、イベント数 %u)。";
constexpr const char* DumpFault = "MDS ファイルの構造に誤りがあります (オフセット %u): ";

}  // namespace Texts
