// Texts.h: the converter's own texts, in UTF-8. Where the desktop program has a text for the same
// situation, it is that text word for word.
#pragma once

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
constexpr const char* NotAFile =
    "通常のファイルではありません (パイプ、デバイスまたはソケット)。変換しません。";
constexpr const char* Duplicate =
    "前に指定された入力ファイルと同じファイルです。一度だけ変換します。";
constexpr const char* ReportFailed = "変換結果の報告を標準出力に書き込めませんでした";
constexpr const char* Converted = "ブロック数 %u、イベント数 %u";
constexpr const char* NotMds =
    "このファイルは、MIDI ストリーム ファイル (RIFF 形式 MIDS) ではありません。";
constexpr const char* DeltaTooLarge =
    "標準 MIDI ファイルに書けない 0x0FFFFFFF を超えるデルタ タイムがあります (オフセット %u)。"
    "ティックが逆戻りする曲は MIDI ファイルに戻せません。";
constexpr const char* TextTooLong =
    "標準 MIDI ファイルに書けない 256MB 以上の曲名または著作権表示があります (オフセット %u)。";
constexpr const char* OutputIsInput =
    "出力ファイルが、この実行の入力ファイルでもあります。入力ファイルは置き換えません。";
constexpr const char* NoMdsFiles = "変換する MIDI ストリーム ファイル (*.mds) がありません。";

constexpr const char* UsageLine = "使い方: tonflux-convert [オプション] 入力ファイル...";
constexpr const char* SeeHelp = "詳しくは tonflux-convert --help を参照してください。";
constexpr const char* UnknownOption = "不明なオプションです: ";
constexpr const char* MissingValue = "値が必要なオプションです: ";
constexpr const char* BadJobs = "-j には 1 から %u までの整数を指定してください。";
constexpr const char* EmptyValue = "値が空です: ";
constexpr const char* OutputIsFolder =
    "-o にはファイルを指定してください。フォルダーには -d を使います: ";
constexpr const char* NoInput = "入力ファイルが指定されていません。";
constexpr const char* OutputWithMany = "-o は入力ファイルが 1 つのときだけ指定できます。";
constexpr const char* OutputAndDir = "-o と -d は同時に指定できません。";
constexpr const char* DumpAndInput = "--dump と入力ファイルは同時に指定できません。";

constexpr const char* Help =
    "使い方: tonflux-convert [オプション] 入力ファイル...\n"
    "標準 MIDI ファイル (SMF, フォーマット 0 / 1) を MIDI ストリーム ファイル (*.mds) "
    "に変換します。\n"
    "MIDI ストリーム ファイル (内容で判別) は、標準 MIDI ファイル (フォーマット 0, *.mid) "
    "に戻します。\n"
    "\n"
    "  -o, --output FILE        出力ファイル (入力ファイルが 1 つのときのみ)。既定: "
    "入力ファイルと\n"
    "                           同じフォルダーに、拡張子を .mds (戻すときは .mid) "
    "にした名前で出力\n"
    "  -d, --output-dir DIR     出力ファイルを DIR に書き込む\n"
    "  -k, --buffer-kb N        ストリーム バッファの最大サイズ (KB, 1〜63, 既定 4)\n"
    "      --no-running-status  ランニング ステータスを使わない (既定: 使う。戻すときは SMF "
    "に適用)\n"
    "      --omit-stream-ids    ストリーム ID を省略する (既定: 省略しない)\n"
    "  -f, --force              既存の出力ファイルを置き換える (既定: 置き換えずにエラー)\n"
    "  -j, --jobs N             N 個のファイルを同時に変換する (1〜1024, 既定: CPU のコア数)\n"
    "  -r, --recursive          フォルダーを指定すると、その下の *.mid / *.midi をすべて変換する\n"
    "      --to-mid             MIDI ストリーム ファイルだけを SMF に戻す (-r では *.mds "
    "を集める)\n"
    "  -q, --quiet              エラーだけを表示する\n"
    "      --dump FILE.mds      MDS "
    "ファイルのヘッダー、ブロック、イベントを表示し、構造を検査する\n"
    "  -h, --help               この説明を表示する\n"
    "      --version            バージョンを表示する\n"
    "\n"
    "終了コード: 0 すべて変換した、1 変換できなかった入力がある、2 使い方の誤り\n";

constexpr const char* DumpOk = "構造に誤りはありません (ブロック数 %u、イベント数 %u)。";
constexpr const char* DumpFault = "MDS ファイルの構造に誤りがあります (オフセット %u): ";
constexpr const char* DumpDeviation =
    "Tonflux が書く MDS ファイルとは構造が異なります (オフセット %u): ";

}  // namespace Texts
