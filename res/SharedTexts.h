// SharedTexts.h: the texts that the Windows program and tonflux-convert both show, in UTF-8. The
// string table (tonflux.rc) and the converter's message table take them from here, so the two
// cannot drift apart.
#pragma once

// One line each: the resource compiler takes no string split over several literals.
// clang-format off
#define TONFLUX_TEXT_UNEXPECTED_ERROR "予期しないエラーが発生しました。"
#define TONFLUX_TEXT_NOT_SMF \
    "このファイルは、標準 MIDI ファイル (SMF) フォーマット 0 または 1 ではありません。"
#define TONFLUX_TEXT_BAD_BUFFER_SIZE \
    "ストリーム バッファの最大サイズが不正です。\n1KB 以上 63KB 以下にしてください。"
#define TONFLUX_TEXT_SYSEX_TOO_LARGE \
    "ストリーム バッファに収まらない Sysex イベントが存在します。\nストリーム バッファの最大サイズを大きくしてみてください。"
// clang-format on
