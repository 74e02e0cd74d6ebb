// page.js: the page. Files come in through the file input or a drop; a worker converts them one
// at a time with the npm package; each gets a row with its result, its download and its picture.
// Nothing is sent anywhere: the worker starts from a blob: URL, and the zip is made here.
import { convertedText, refusalText, bufferSizeText, outputName, StreamEvents } from 'tonflux';
import { zipSync } from 'fflate';
import workerSource from 'tonflux:worker';
import { ChannelColours, TempoStrip } from './roll.js';

const Texts = {
    en: {
        title: 'Tonflux: MIDI files to MIDI stream files and back',
        tagline: 'MIDI files (.mid) to MIDI stream files (.mds) and back.',
        language: 'Language',
        privacy: 'Your files never leave this computer: they are converted here, in your browser, and nothing is sent anywhere.',
        drop: 'Drop MIDI files or MIDI stream files here, or press Enter to choose them. The direction is taken from each file\'s content.',
        choose: 'Files to convert:',
        options: 'Options',
        bufferKb: 'Maximum stream buffer size (KB, 1 to 63)',
        runningStatus: 'Use running status',
        streamIds: 'Keep stream identifiers',
        lenient: 'Forgiving import: read files that break the MIDI file rules in the ways real files commonly do',
        defaults: 'Restore the defaults',
        results: 'Files',
        downloadAll: 'Download all (zip)',
        clear: 'Clear the list',
        'mid-to-mds': 'MIDI file → MIDI stream file',
        'mds-to-mid': 'MIDI stream file → MIDI file',
        waiting: 'Waiting…',
        read: 'Reading…', encoded: 'Encoding…', written: 'Writing…', described: 'Drawing…', drawn: 'Drawing…',
        converting: (done, total) => `Converting: ${done} of ${total} done`,
        finished: (done, refused) => `${done} converted` + (refused ? `, ${refused} refused` : ''),
        download: (name) => `Download ${name}`,
        songTitle: 'Title', copyright: 'Copyright',
        rollLabel: (blocks, tempos) => `Piano roll of the stream: notes by key over time, coloured by channel, ${blocks} stream buffer boundaries (blue lines), ${tempos} tempo changes (black marks)`,
        legendBlocks: 'stream buffer boundaries', legendTempo: 'tempo changes', channel: 'ch',
        hoverBlock: (b, tick, bytes) => `block ${b} (from tick ${tick}, ${bytes} bytes)`,
        hoverTick: (tick, offset) => `tick ${tick} (offset 0x${offset.toString(16).toUpperCase()})`,
        noteOn: (ch, name, key, vel) => `note on, channel ${ch}, ${name} (${key}), velocity ${vel}`,
        noteOff: (ch, name, key) => `note off, channel ${ch}, ${name} (${key})`,
        aftertouch: (ch, key, v) => `key pressure, channel ${ch}, key ${key}, ${v}`,
        control: (ch, c, v) => `control change, channel ${ch}, controller ${c}, value ${v}`,
        program: (ch, p) => `program change, channel ${ch}, program ${p}`,
        pressure: (ch, v) => `channel pressure, channel ${ch}, ${v}`,
        bend: (ch, v) => `pitch bend, channel ${ch}, ${v}`,
        tempo: (bpm, us) => `tempo ${bpm} BPM (${us} µs per quarter note)`,
        long: (n) => `system exclusive, ${n} bytes`,
        failed: 'The conversion failed unexpectedly: ',
        licence: 'MIT License',
    },
    ja: {
        title: 'Tonflux: MIDI ファイルと MIDI ストリーム ファイルの相互変換',
        tagline: 'MIDI ファイル (.mid) を MIDI ストリーム ファイル (.mds) に、また元に戻します。',
        language: '言語',
        privacy: 'ファイルはこのコンピューターの外に出ません。変換はこのブラウザーの中で行われ、どこにも送信されません。',
        drop: 'MIDI ファイルまたは MIDI ストリーム ファイルをここにドロップするか、Enter キーを押して選択してください。変換の向きはファイルの内容で決まります。',
        choose: '変換するファイル:',
        options: 'オプション',
        bufferKb: 'ストリーム バッファの最大サイズ (KB, 1〜63)',
        runningStatus: 'ランニング ステータスを使用する',
        streamIds: 'ストリーム ID を含める',
        lenient: '寛容な読み込み: 実際のファイルによくある、規則に反する箇所を補って読む',
        defaults: '既定値に戻す',
        results: 'ファイル',
        downloadAll: 'すべてダウンロード (zip)',
        clear: '一覧を消去',
        'mid-to-mds': 'MIDI ファイル → MIDI ストリーム ファイル',
        'mds-to-mid': 'MIDI ストリーム ファイル → MIDI ファイル',
        waiting: '待機中…',
        read: '読み込み中…', encoded: 'エンコード中…', written: '書き込み中…', described: '描画中…', drawn: '描画中…',
        converting: (done, total) => `変換中: ${total} 件中 ${done} 件完了`,
        finished: (done, refused) => `${done} 件を変換しました` + (refused ? `。${refused} 件は変換できませんでした` : ''),
        download: (name) => `${name} をダウンロード`,
        songTitle: '曲名', copyright: '著作権表示',
        rollLabel: (blocks, tempos) => `ストリームのピアノ ロール: 音符を鍵盤の高さと時間で表示し、チャンネルごとに色分け。ストリーム バッファの境界 ${blocks} 箇所 (青い線)、テンポ変更 ${tempos} 箇所 (黒い印)`,
        legendBlocks: 'ストリーム バッファの境界', legendTempo: 'テンポ変更', channel: 'ch',
        hoverBlock: (b, tick, bytes) => `ブロック ${b} (開始ティック ${tick}、${bytes} バイト)`,
        hoverTick: (tick, offset) => `ティック ${tick} (オフセット 0x${offset.toString(16).toUpperCase()})`,
        noteOn: (ch, name, key, vel) => `ノート オン、チャンネル ${ch}、${name} (${key})、ベロシティ ${vel}`,
        noteOff: (ch, name, key) => `ノート オフ、チャンネル ${ch}、${name} (${key})`,
        aftertouch: (ch, key, v) => `ポリフォニック キー プレッシャー、チャンネル ${ch}、キー ${key}、${v}`,
        control: (ch, c, v) => `コントロール チェンジ、チャンネル ${ch}、コントローラー ${c}、値 ${v}`,
        program: (ch, p) => `プログラム チェンジ、チャンネル ${ch}、プログラム ${p}`,
        pressure: (ch, v) => `チャンネル プレッシャー、チャンネル ${ch}、${v}`,
        bend: (ch, v) => `ピッチ ベンド、チャンネル ${ch}、${v}`,
        tempo: (bpm, us) => `テンポ ${bpm} BPM (4 分音符 ${us} マイクロ秒)`,
        long: (n) => `システム エクスクルーシブ、${n} バイト`,
        failed: '予期しないエラーで変換できませんでした: ',
        licence: 'MIT ライセンス',
    },
};
const StepValues = { read: 0.35, encoded: 0.65, written: 0.8, described: 0.9, drawn: 1 };
const Defaults = { bufferKb: 4, runningStatus: true, streamIds: true, lenient: false };
const Stored = 'tonflux.options';
const StoredLanguage = 'tonflux.language';
const NoteNames = ['C', 'C#', 'D', 'D#', 'E', 'F', 'F#', 'G', 'G#', 'A', 'A#', 'B'];

const $ = (selector) => document.querySelector(selector);
const rows = new Map();  // input name -> row
const queue = [];        // names waiting for the worker
let worker = null;
let job = null;          // { id, name } the worker is on
let jobs = 0;
let language = 'en';
let zipUrl = null;

function Text(key, ...args) {
    const text = Texts[language][key];
    return typeof text === 'function' ? text(...args) : text;
}

function Storage() {
    try {
        return window.localStorage;
    } catch (e) {  // storage may be refused (file:// in some browsers, private windows)
        return null;
    }
}

// ---- Options ----

function ReadOptions() {
    const kb = $('#buffer-kb').value.trim();
    return {
        bufferKb: /^[0-9]{1,2}$/.test(kb) ? Number(kb) : NaN,
        runningStatus: $('#running-status').checked,
        streamIds: $('#stream-ids').checked,
        lenient: $('#lenient').checked,
    };
}

function ShowOptions(options) {
    $('#buffer-kb').value = String(options.bufferKb);
    $('#running-status').checked = options.runningStatus;
    $('#stream-ids').checked = options.streamIds;
    $('#lenient').checked = options.lenient;
}

function ValidOptions() {
    const options = ReadOptions();
    const valid = options.bufferKb >= 1 && options.bufferKb <= 63;
    $('#buffer-error').textContent = valid ? '' : bufferSizeText(language);
    $('#buffer-kb').setAttribute('aria-invalid', String(!valid));
    return valid ? options : null;
}

function LoadOptions() {
    let options = { ...Defaults };
    try {
        const stored = JSON.parse(Storage()?.getItem(Stored) ?? 'null');
        if (stored && typeof stored === 'object') {
            for (const name of Object.keys(Defaults))
                if (typeof stored[name] === typeof Defaults[name]) options[name] = stored[name];
            if (!(options.bufferKb >= 1 && options.bufferKb <= 63 && Number.isInteger(options.bufferKb)))
                options.bufferKb = Defaults.bufferKb;
        }
    } catch (e) { /* a damaged entry means the defaults */ }
    ShowOptions(options);
}

function OptionsChanged() {
    const options = ValidOptions();
    if (!options) return;
    Storage()?.setItem(Stored, JSON.stringify(options));
    ConvertAgain();
}

// ---- Language ----

function SetLanguage(chosen, remember) {
    language = chosen === 'ja' ? 'ja' : 'en';
    document.documentElement.lang = language;
    document.title = Text('title');
    $('#lang').value = language;
    for (const element of document.querySelectorAll('[data-text]')) element.textContent = Text(element.dataset.text);
    if (remember) Storage()?.setItem(StoredLanguage, language);
    if ($('#buffer-error').textContent) ValidOptions();
    for (const row of rows.values()) ShowRow(row);
    ShowStatus();
}

function BrowserLanguage() {
    const stored = Storage()?.getItem(StoredLanguage);
    if (stored === 'en' || stored === 'ja') return stored;
    const preferred = navigator.languages?.length ? navigator.languages : [navigator.language || 'en'];
    return /^ja\b/i.test(preferred[0]) ? 'ja' : 'en';
}

// ---- The worker ----

function StartWorker() {
    const url = URL.createObjectURL(new Blob([workerSource], { type: 'text/javascript' }));
    worker = new Worker(url);
    URL.revokeObjectURL(url);
    worker.onmessage = ({ data }) => Heard(data);
    worker.onerror = (event) => {
        event.preventDefault();
        if (job) Heard({ id: job.id, type: 'failed', message: event.message || 'worker error' });
    };
}

function Pump() {
    if (job || !queue.length) return ShowStatus();
    const options = ValidOptions();
    if (!options) return ShowStatus();
    if (!worker) StartWorker();
    const name = queue.shift();
    const row = rows.get(name);
    job = { id: ++jobs, name, file: row.file };
    row.status = 'converting';
    row.step = null;
    ShowRow(row);
    worker.postMessage({ id: job.id, file: row.file, options });
    ShowStatus();
}

function Heard(message) {
    if (!job || message.id !== job.id) return;  // from a job given up when the options changed
    const row = rows.get(job.name);
    if (message.type === 'progress') {
        if (row?.file === job.file) {
            row.step = message.step;
            ShowRow(row);
        }
        return;
    }
    const file = job.file;
    job = null;
    // A row cleared, or given a new file of its name meanwhile, waits for that one's result.
    if (row && row.file === file) {
        if (message.type === 'done') Converted(row, message.result, message.roll);
        else if (message.type === 'refused') Refused(row, message.refusal);
        else Refused(row, { failed: message.message });
    }
    InvalidateZip();
    Pump();
}

function Converted(row, result, roll) {
    ReleaseRow(row);
    row.status = 'converted';
    row.result = result;
    if (result.events) row.events = new StreamEvents(result.events.ticks, result.events.words, result.events.offsets);
    row.roll = roll;
    row.blob = result.blob;
    row.url = URL.createObjectURL(row.blob);
    delete result.blob;
    ShowRow(row);
}

function Refused(row, refusal) {
    ReleaseRow(row);
    row.status = 'refused';
    row.refusal = refusal;
    ShowRow(row);
}

function ReleaseRow(row) {
    if (row.url) URL.revokeObjectURL(row.url);
    row.url = row.blob = row.result = row.refusal = row.roll = row.events = null;
    row.drawn = false;
}

// Every row again, with the options as they are now; a conversion under way is given up.
function ConvertAgain() {
    if (job) {
        worker.terminate();
        worker = null;
        job = null;
    }
    queue.length = 0;
    for (const row of rows.values()) {
        ReleaseRow(row);
        row.status = 'waiting';
        queue.push(row.name);
        ShowRow(row);
    }
    InvalidateZip();
    Pump();
}

// ---- Rows ----

function AddFiles(files) {
    for (const file of files) {
        let row = rows.get(file.name);
        if (!row) {
            row = { name: file.name, element: MakeRow(file.name) };
            rows.set(file.name, row);
            $('#rows').append(row.element);
        }
        // The same name again: its new content replaces the row's, as a file replaced on disk would.
        ReleaseRow(row);
        row.file = file;
        row.status = 'waiting';
        if (!queue.includes(row.name)) queue.push(row.name);
        ShowRow(row);
    }
    InvalidateZip();
    Pump();
}

function MakeRow(name) {
    const li = document.createElement('li');
    li.className = 'row';
    li.dataset.file = name;
    li.innerHTML = `<div class="head"><span class="name"></span><span class="direction"></span></div>
        <progress max="1" hidden></progress>
        <p class="result"></p><p class="texts" hidden></p><p class="link"><a download hidden></a></p>
        <figure hidden><canvas role="img"></canvas><figcaption></figcaption><div class="legend"></div></figure>`;
    li.querySelector('.name').textContent = name;
    const canvas = li.querySelector('canvas');
    canvas.addEventListener('mousemove', (event) => Hover(rows.get(name), event));
    canvas.addEventListener('mouseleave', () => { li.querySelector('figcaption').textContent = ''; });
    return li;
}

function ShowRow(row) {
    const li = row.element;
    li.dataset.status = row.status;
    const progress = li.querySelector('progress');
    const direction = row.result?.direction ?? row.refusal?.direction;
    li.querySelector('.direction').textContent = direction ? Text(direction) : '';
    progress.hidden = row.status !== 'converting';
    progress.value = StepValues[row.step] ?? 0.1;
    const result = li.querySelector('.result');
    const texts = li.querySelector('.texts');
    const link = li.querySelector('a[download]');
    const figure = li.querySelector('figure');
    texts.hidden = true;
    link.hidden = !row.url;
    figure.hidden = !row.roll;
    if (row.status === 'waiting') result.textContent = Text('waiting');
    else if (row.status === 'converting') result.textContent = Text(row.step ?? 'read');
    else if (row.status === 'refused')
        result.textContent = row.refusal.failed ? Text('failed') + row.refusal.failed : refusalText(row.refusal, language);
    else {
        result.textContent = convertedText(row.result, language);
        const parts = [];
        if (row.result.title) parts.push(`${Text('songTitle')}: ${row.result.title}`);
        if (row.result.copyright) parts.push(`${Text('copyright')}: ${row.result.copyright}`);
        texts.textContent = parts.join(' · ');
        texts.hidden = !parts.length;
        const name = outputName(row.name, row.result.direction);
        link.href = row.url;
        link.download = name;
        link.textContent = Text('download', name);
    }
    if (row.roll) DrawRoll(row);
}

function DrawRoll(row) {
    const li = row.element;
    const canvas = li.querySelector('canvas');
    const { roll } = row;
    canvas.setAttribute('aria-label', Text('rollLabel', row.result.blocks?.length ?? 0, roll.tempos));
    const legend = li.querySelector('.legend');
    const channels = new Set();
    for (let k = 0; k < roll.notes.key.length; ++k) channels.add(roll.notes.key[k] >>> 8 & 0x0F);
    legend.replaceChildren(...[...channels].sort((a, b) => a - b).map((ch) => Swatch(`${Text('channel')} ${ch + 1}`, ChannelColours[ch])),
                           Swatch(Text('legendBlocks'), '#c5d3e2'), Swatch(Text('legendTempo'), '#000000'));
    if (row.drawn) return;
    canvas.width = roll.width;
    canvas.height = roll.height;
    canvas.getContext('2d').putImageData(new ImageData(roll.pixels, roll.width, roll.height), 0, 0);
    row.drawn = true;
}

function Swatch(text, colour) {
    const span = document.createElement('span');
    span.textContent = text;
    span.style.setProperty('--swatch', colour);
    return span;
}

// ---- Hovering over a picture: the block, the tick and the event there ----

function LowerBound(array, value, from = 0, to = array.length) {
    while (from < to) {
        const mid = (from + to) >>> 1;
        if (array[mid] < value) from = mid + 1; else to = mid;
    }
    return from;
}

function Hover(row, event) {
    if (!row?.roll || !row.events) return;
    const { roll, events } = row;
    const box = event.target.getBoundingClientRect();
    const x = (event.clientX - box.left) / box.width * roll.width;
    const y = (event.clientY - box.top) / box.height * roll.height;
    const tick = Math.max(0, Math.round(x / (roll.width - 1) * roll.span));
    const key = roll.high - Math.floor((y - TempoStrip) / roll.rowHeight);
    // The note under the pointer, if any: among the notes begun by then, the latest of that key
    // still sounding.
    const { start, end } = roll.notes;
    let index = -1;
    const begun = LowerBound(start, tick + 1);
    for (let k = begun - 1; k >= 0 && k >= begun - 4096; --k)
        if ((roll.notes.key[k] & 0x7F) === key && end[k] >= tick) { index = roll.notes.event[k]; break; }
    if (index < 0) index = Math.min(events.length - 1, LowerBound(events.ticks, tick));
    if (index < 0) return;
    const blocks = row.result.blocks;
    let b = 0;
    for (let from = 0, to = blocks.length; from < to;) {
        const mid = (from + to) >>> 1;
        if (blocks[mid].firstEvent <= index) { b = mid; from = mid + 1; } else to = mid;
    }
    const e = events.at(index);
    const block = blocks[b];
    row.element.querySelector('figcaption').textContent =
        [Text('hoverBlock', b + 1, block.tickStart, block.length), Text('hoverTick', e.tick, e.offset), Describe(e)].join(' · ');
}

function Describe(e) {
    if (e.kind === 'tempo') return Text('tempo', (60000000 / e.tempo).toFixed(2), e.tempo);
    if (e.kind === 'long') return Text('long', e.length);
    const [status, a, b] = e.message;
    const ch = (status & 0x0F) + 1;
    const name = (key) => NoteNames[key % 12] + (Math.floor(key / 12) - 1);
    switch (status & 0xF0) {
        case 0x90: return b ? Text('noteOn', ch, name(a), a, b) : Text('noteOff', ch, name(a), a);
        case 0x80: return Text('noteOff', ch, name(a), a);
        case 0xA0: return Text('aftertouch', ch, a, b);
        case 0xB0: return Text('control', ch, a, b);
        case 0xC0: return Text('program', ch, a);
        case 0xD0: return Text('pressure', ch, a);
        default: return Text('bend', ch, (a | b << 7) - 8192);
    }
}

// ---- The toolbar: progress and the zip ----

function ShowStatus() {
    const all = [...rows.values()];
    const done = all.filter((r) => r.status === 'converted' || r.status === 'refused').length;
    const refused = all.filter((r) => r.status === 'refused').length;
    const busy = done < all.length;
    const progress = $('#progress');
    progress.hidden = !busy;
    progress.max = all.length || 1;
    progress.value = done;
    $('#status').textContent = !all.length ? '' : busy ? Text('converting', done, all.length) : Text('finished', done - refused, refused);
    $('#download-all').hidden = busy || done === refused;
    $('#clear').hidden = !all.length;
}

function InvalidateZip() {
    if (zipUrl) URL.revokeObjectURL(zipUrl);
    zipUrl = null;
    $('#download-all').setAttribute('href', '#');
}

// The zip is made on the first click after a change, then the click goes on as a download. Two
// inputs that give the same output name (song.mid and song.midi) keep both, the later numbered.
async function DownloadAll(event) {
    if (zipUrl) return;
    event.preventDefault();
    const files = {};
    for (const row of rows.values()) {
        if (row.status !== 'converted') continue;
        const name = outputName(row.name, row.result.direction);
        let unique = name;
        for (let n = 2; unique in files; ++n) unique = name.replace(/(\.[^.]*)$/, ` (${n})$1`);
        files[unique] = new Uint8Array(await row.blob.arrayBuffer());
    }
    zipUrl = URL.createObjectURL(new Blob([zipSync(files)], { type: 'application/zip' }));
    const link = $('#download-all');
    link.href = zipUrl;
    link.click();
}

// ---- Start ----

function Start() {
    LoadOptions();
    SetLanguage(BrowserLanguage(), false);
    $('#lang').addEventListener('change', (e) => SetLanguage(e.target.value, true));
    $('#files').addEventListener('change', (e) => {
        AddFiles([...e.target.files]);
        e.target.value = '';
    });
    for (const id of ['#buffer-kb', '#running-status', '#stream-ids', '#lenient'])
        $(id).addEventListener('change', OptionsChanged);
    $('#buffer-kb').addEventListener('input', () => ValidOptions());
    $('#defaults').addEventListener('click', () => {
        ShowOptions(Defaults);
        OptionsChanged();
    });
    const drop = $('#drop');
    drop.addEventListener('keydown', (e) => {
        if (e.key === 'Enter' || e.key === ' ') {
            e.preventDefault();
            $('#files').click();
        }
    });
    drop.addEventListener('click', (e) => { if (e.target === drop || e.target.tagName === 'P') $('#files').click(); });
    // A file dropped anywhere on the page is taken, rather than opened by the browser in its place.
    document.addEventListener('dragover', (e) => {
        e.preventDefault();
        drop.classList.add('over');
    });
    document.addEventListener('dragleave', (e) => { if (!e.relatedTarget) drop.classList.remove('over'); });
    document.addEventListener('drop', (e) => {
        e.preventDefault();
        drop.classList.remove('over');
        if (e.dataTransfer?.files?.length) AddFiles([...e.dataTransfer.files]);
    });
    $('#download-all').addEventListener('click', DownloadAll);
    $('#clear').addEventListener('click', () => {
        for (const row of rows.values()) { ReleaseRow(row); row.element.remove(); }
        rows.clear();
        ConvertAgain();
    });
    ShowStatus();
}

Start();
