// Tonflux: Standard MIDI Files to MIDI stream files and back, by the converter's own WebAssembly
// build, in browsers and in Node. The module and the converter's texts are built into this file,
// so nothing is fetched.
import wasmBytes from 'tonflux:wasm';
import texts from 'tonflux:texts';

export const version = TONFLUX_VERSION;

const Statuses = ['ok', 'not-smf', 'event-too-large', 'not-mds', 'mds-malformed',
                  'delta-too-large', 'text-too-long', 'out-of-memory', 'bad-options'];
const Steps = [null, 'read', 'encoded', 'written', 'described'];
const Directions = [null, 'mid-to-mds', 'mds-to-mid'];

// Word indexes of TonfluxOptions and TonfluxResult (web/Tonflux.h), whose fields are all 32-bit.
const OptionWords = 9;
const R = {
    status: 0, direction: 1, fault: 2, chunk: 3, track: 4, offset: 5, lenientConverts: 6,
    mends: 7, output: 8, outputLength: 9, blocks: 10, events: 11, timeFormat: 12,
    maxBufferBytes: 13, flags: 14, title: 15, titleLength: 16, copyright: 17,
    copyrightLength: 18, described: 19, blockTable: 20, ticks: 21, words: 22, offsets: 23,
};
const ResultWords = 25;
// A module whose memory grew past this is dropped after the call, so that one large song does not
// keep its memory for the rest of the page's life.
const KeptMemoryBytes = 64 * 1024 * 1024;

let compiled = null;
let instance = null;
let onStep = null;
let onWrite = null;

function Instance() {
    if (instance) return instance;
    if (!compiled) compiled = new WebAssembly.Module(wasmBytes);
    const created = new WebAssembly.Instance(compiled, {
        env: {
            TonfluxImportedProgress: (step) => { if (onStep) onStep(Steps[step]); },
            TonfluxImportedWrite: (offset, data, length) => (onWrite ? onWrite(offset, data >>> 0, length) : 0),
            emscripten_notify_memory_growth: () => {},
        },
    });
    created.exports._initialize();
    instance = created;
    return instance;
}

// Runs call(exports) on the module; an exception (thrown by a progress callback, or a trap) leaves
// the module's memory in an unknown state, so the module is dropped with it.
function WithModule(call) {
    const exports = Instance().exports;
    try {
        return call(exports);
    } catch (error) {
        instance = null;
        throw error;
    } finally {
        onStep = null;
        onWrite = null;
        if (instance && exports.memory.buffer.byteLength > KeptMemoryBytes) instance = null;
    }
}

function Bytes(input) {
    if (input instanceof Uint8Array) return input;
    if (input instanceof ArrayBuffer) return new Uint8Array(input);
    if (ArrayBuffer.isView(input)) return new Uint8Array(input.buffer, input.byteOffset, input.byteLength);
    throw new TypeError('tonflux: the input must be a Uint8Array, an ArrayBuffer or another view of bytes');
}

function Decode(bytes) {
    if (!bytes) return null;
    // Songs of Japanese origin mostly carry Shift_JIS texts; anything that is valid UTF-8 is
    // taken as such (ASCII included).
    for (const encoding of ['utf-8', 'shift_jis']) {
        try {
            return new TextDecoder(encoding, { fatal: true }).decode(bytes);
        } catch (e) { /* the next one */ }
    }
    return new TextDecoder('windows-1252').decode(bytes);
}

// The error of a refused file: fault names what is wrong, chunk and offset where, as
// tonflux-convert reports it; message is its English text (refusalText gives the Japanese one).
export class TonfluxError extends Error {
    constructor(refusal) {
        super(refusalText(refusal, 'en'));
        this.name = 'TonfluxError';
        Object.assign(this, refusal);
    }
}

function Fill(template, refusal) {
    const offset = refusal.offset ?? 0;
    return template
        .replace('{chunk}', String(refusal.chunk))
        .replace('{offset:x}', offset.toString(16).toUpperCase())
        .replace('{offset}', String(offset));
}

// tonflux-convert's words for a refusal (a TonfluxError, or its fields as a plain object), in
// 'en' or 'ja'.
export function refusalText(refusal, language = 'en') {
    const t = texts[language === 'ja' ? 'ja' : 'en'];
    const { fault } = refusal;
    if (refusal.status === 'not-smf') {
        const place = refusal.chunk === 0 ? 'header' : refusal.track ? 'track' : 'chunk';
        return Fill(t.smf[fault][place][refusal.lenient ? 1 : 0], refusal);
    }
    if (refusal.status === 'mds-malformed') return Fill(t.mds[fault], refusal);
    if (t.mds[fault]) return Fill(t.mds[fault], refusal);
    return t[fault] || t['out-of-memory'];
}

// tonflux-convert's words for a conversion: "N blocks, M events".
export function convertedText(result, language = 'en') {
    return texts[language === 'ja' ? 'ja' : 'en'].converted
        .replace('{blocks}', String(result.blockCount))
        .replace('{events}', String(result.eventCount));
}

// tonflux-convert's words for a buffer size outside 1 to 63 KB.
export function bufferSizeText(language = 'en') {
    return texts[language === 'ja' ? 'ja' : 'en']['buffer-size'];
}

// The output's file name as tonflux-convert makes it: the input's name up to its last dot, with
// .mds (or .mid on the way back). Only the file's own name is kept, whatever folder came with it.
export function outputName(name, direction) {
    let base = String(name ?? 'song');
    base = base.slice(Math.max(base.lastIndexOf('/'), base.lastIndexOf('\\')) + 1);
    const dot = base.lastIndexOf('.');
    if (dot >= 0) base = base.slice(0, dot);
    return base + (direction === 'mds-to-mid' ? '.mid' : '.mds');
}

// The events of a stream: parallel arrays, one entry per event a player plays, in order.
export class StreamEvents {
    constructor(ticks, words, offsets) {
        this.ticks = ticks;      // absolute ticks
        this.words = words;      // type << 24 | parameter, see at()
        this.offsets = offsets;  // byte offsets in the file
    }
    get length() {
        return this.ticks.length;
    }
    // One event: a short message with its status restored, a tempo, or a long message (system
    // exclusive) with its length.
    at(i) {
        const word = this.words[i];
        const event = { tick: this.ticks[i], offset: this.offsets[i] };
        if (word >>> 24 === 0x01) return { ...event, kind: 'tempo', tempo: word & 0xFFFFFF };
        if (word >>> 24 === 0x80) return { ...event, kind: 'long', length: word & 0xFFFFFF };
        const status = word & 0xFF;
        const size = (status & 0xE0) === 0xC0 ? 2 : 3;
        const message = [status, (word >>> 8) & 0xFF, (word >>> 16) & 0xFF].slice(0, size);
        return { ...event, kind: 'short', message };
    }
    *[Symbol.iterator]() {
        for (let i = 0; i < this.length; ++i) yield this.at(i);
    }
}

function Refuse(words, direction) {
    const status = Statuses[words[R.status]];
    let fault = status;
    if (status === 'not-smf') fault = texts.smfFaults[words[R.fault]];
    if (status === 'mds-malformed') fault = texts.mdsFaults[words[R.fault]];
    const refusal = { status, fault, direction, chunk: null, track: false, offset: null, lenient: false };
    if (status === 'not-smf') {
        refusal.chunk = words[R.chunk];
        refusal.track = words[R.track] !== 0;
        refusal.lenient = words[R.lenientConverts] !== 0;
    }
    if (['not-smf', 'mds-malformed', 'delta-too-large', 'text-too-long'].includes(status))
        refusal.offset = words[R.offset];
    return new TonfluxError(refusal);
}

function OutOfMemory(direction) {
    return new TonfluxError({ status: 'out-of-memory', fault: 'out-of-memory', direction,
                              chunk: null, track: false, offset: null, lenient: false });
}

// The output as the module hands it over in pieces, into room for the size it expects taken at
// once: the file is copied out of the module's memory piece by piece, while each is in the
// processor's cache, and the module needs no memory for it.
function Receiver() {
    let bytes = new Uint8Array(0);
    let size = 0;
    const write = (memory, offset, data, length) => {
        if (!data) {
            bytes = new Uint8Array(length);
            return 1;
        }
        const end = offset + length;
        if (end > bytes.length) {  // more than expected: blocks that long messages left part empty
            const grown = new Uint8Array(Math.max(end, 2 * bytes.length));
            grown.set(bytes.subarray(0, size));
            bytes = grown;
        }
        bytes.set(new Uint8Array(memory.buffer, data, length), offset);
        size = Math.max(size, end);
        return 1;
    };
    return {
        // 0 tells the module that the room could not be had: it reports running out of memory.
        write: (memory, offset, data, length) => {
            try {
                return write(memory, offset, data, length);
            } catch (error) {
                if (error instanceof RangeError) return 0;
                throw error;
            }
        },
        bytes: () => (size === bytes.length ? bytes : bytes.subarray(0, size)),
    };
}

// Copies what a result points to out of the module's memory, which the next call reuses; the
// output is received's when it was handed over.
function Take(exports, at, withBytes, received) {
    const heap = new Uint8Array(exports.memory.buffer);
    const words = new Uint32Array(exports.memory.buffer, at, ResultWords);
    const span = (pointer, length) => (pointer ? heap.slice(pointer, pointer + length) : null);
    const table = (pointer, count) => new Uint32Array(exports.memory.buffer.slice(pointer, pointer + 4 * count));
    const taken = {
        direction: Directions[words[R.direction]] ?? null,
        bytes: !withBytes ? null : words[R.output] ? span(words[R.output], words[R.outputLength]) : received,
        blockCount: words[R.blocks],
        eventCount: words[R.events],
        timeFormat: words[R.timeFormat],
        maxBufferBytes: words[R.maxBufferBytes],
        streamIds: (words[R.flags] & 1) === 0,
        title: Decode(span(words[R.title], words[R.titleLength])),
        copyright: Decode(span(words[R.copyright], words[R.copyrightLength])),
        mends: words[R.mends],
        blocks: null,
        events: null,
    };
    if (words[R.described]) {
        const raw = table(words[R.blockTable], 4 * words[R.blocks] || 0);
        const events = table(words[R.ticks], 3 * words[R.events]);
        const n = events.length / 3;
        taken.events = new StreamEvents(events.subarray(0, n), events.subarray(n, 2 * n), events.subarray(2 * n));
        taken.blocks = [];
        for (let b = 0; b < raw.length / 4; ++b) {
            const next = b + 1 < raw.length / 4 ? raw[4 * b + 7] : n;
            taken.blocks.push({ tickStart: raw[4 * b], offset: raw[4 * b + 1], length: raw[4 * b + 2],
                                firstEvent: raw[4 * b + 3], eventCount: next - raw[4 * b + 3] });
        }
    }
    return taken;
}

// Grows the module's memory at once to what a conversion of bytes is likely to need (at most the
// 4 GB it can address): grown step by step as the allocator asks, the memory costs a third of the
// time of a large conversion. Pages that are never touched cost the system nothing.
function Reserve(memory, bytes, times) {
    const Page = 65536;
    const need = Math.min(65536, Math.ceil((16 * 1024 * 1024 + times * bytes) / Page));
    for (let grow = need - memory.buffer.byteLength / Page; grow > 16; grow >>= 1) {
        try {
            memory.grow(grow);
            return;
        } catch (e) { /* less, then; the allocator grows the rest as it needs */ }
    }
}

// The module's options (TonfluxOptions) from the package's, with tonflux-convert's defaults; the
// callbacks are set in the call.
function Settings(options) {
    const { bufferKb = 4, runningStatus = true, streamIds = true, lenient = false, events = true } = options;
    if (!Number.isInteger(bufferKb) || bufferKb < 1 || bufferKb > 63) throw new RangeError(bufferSizeText('en'));
    return [bufferKb, runningStatus ? 1 : 0, streamIds ? 1 : 0, lenient ? 1 : 0, events ? 1 : 0, 0, 0, 0, 0];
}

// Runs the module's entry (TonfluxConvert or TonfluxDescribe) on input with the package's options,
// both copied into the module's memory. The output is taken only withBytes; without the tables
// (which are read from an output kept in the module) it is handed over as it is made.
function Call(input, options, entry, withBytes) {
    const settings = Settings(options);
    const bytes = Bytes(input);
    if (bytes.length > 0xFFFFFFFF) throw OutOfMemory(null);
    const received = withBytes && !settings[4] ? Receiver() : null;
    return WithModule((exports) => {
        Reserve(exports.memory, bytes.length, received ? 2 : 12);
        const image = exports.malloc(Math.max(bytes.length, 1)) >>> 0;
        const result = exports.malloc(4 * ResultWords) >>> 0;
        const at = exports.malloc(4 * OptionWords) >>> 0;
        try {
            if (!image || !result || !at) throw OutOfMemory(null);
            new Uint8Array(exports.memory.buffer).set(bytes, image);
            const words = new Uint32Array(exports.memory.buffer, at, OptionWords);
            words.set(settings);
            if (options.onProgress) {
                words[5] = exports.TonfluxWasmProgress();
                onStep = options.onProgress;
            }
            if (received) {
                words[7] = exports.TonfluxWasmWrite();
                onWrite = (offset, data, length) => received.write(exports.memory, offset, data, length);
            }
            const status = exports[entry](image, bytes.length, at, result);
            try {
                const words = new Uint32Array(exports.memory.buffer, result, ResultWords);
                if (status !== 0) throw Refuse(words, Directions[words[R.direction]] ?? null);
                return Take(exports, result, withBytes, received?.bytes());
            } catch (error) {
                throw error instanceof RangeError ? OutOfMemory(null) : error;
            } finally {
                exports.TonfluxRelease(result);
            }
        } finally {
            exports.free(image);
            exports.free(result);
            exports.free(at);
        }
    });
}

// Converts an SMF (format 0 or 1; a MacBinary header, and with lenient an RMID file, allowed) into
// a MIDI stream file, or a MIDI stream file of any writer back into a format 0 SMF, as its content
// says. Throws a TonfluxError for a file it refuses.
export function convert(input, options = {}) {
    const converted = Call(input, options, 'TonfluxConvert', true);
    delete converted.mends;
    return { ...converted, outputName: outputName(options.name, converted.direction) };
}

// The blocks and events of a stream as a player would take them: of a MIDI stream file of any
// writer, or of the one an SMF converts to with these options (refused as convert refuses it).
export function describe(input, options = {}) {
    const { bytes, direction, mends, ...rest } = Call(input, options, 'TonfluxDescribe', false);
    return rest;
}
