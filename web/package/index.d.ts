// Tonflux: Standard MIDI Files to MIDI stream files and back, in browsers and in Node 18 or newer.

export type Direction = 'mid-to-mds' | 'mds-to-mid';
export type Language = 'en' | 'ja';
export type Step = 'read' | 'encoded' | 'written' | 'described';

/** The options of tonflux-convert, with its defaults. */
export interface ConvertOptions {
    /** The input's file name, from which outputName is made. Default "song". */
    name?: string;
    /** The largest stream buffer, 1 to 63 KB. Default 4. A RangeError otherwise. */
    bufferKb?: number;
    /** Use running status (in the stream, or in the SMF on the way back). Default true. */
    runningStatus?: boolean;
    /** Keep stream identifiers in the stream's events. Default true. */
    streamIds?: boolean;
    /** Read SMF files that break the rules in the ways real files commonly do. Default false. */
    lenient?: boolean;
    /** Also table the stream's blocks and events. Default true; false saves time and memory. */
    events?: boolean;
    /** Called as each step of the conversion ends, synchronously. */
    onProgress?: (step: Step) => void;
}

/** A stream buffer of the MIDI stream file. */
export interface Block {
    tickStart: number;
    /** Byte offset of its first event in the file. */
    offset: number;
    /** Length in bytes. */
    length: number;
    /** Index of its first event in the events. */
    firstEvent: number;
    eventCount: number;
}

export type StreamEvent =
    | { kind: 'short'; tick: number; offset: number; message: number[] }
    | { kind: 'tempo'; tick: number; offset: number; tempo: number }
    | { kind: 'long'; tick: number; offset: number; length: number };

/** The events a player plays, in order, as parallel arrays. */
export class StreamEvents implements Iterable<StreamEvent> {
    constructor(ticks: Uint32Array, words: Uint32Array, offsets: Uint32Array);
    readonly length: number;
    /** Absolute ticks. */
    readonly ticks: Uint32Array;
    /** type << 24 | parameter: a short message (status | data1 << 8 | data2 << 16, its status
     *  restored), a tempo (0x01, microseconds per quarter note), a long message (0x80, its length). */
    readonly words: Uint32Array;
    /** Byte offsets in the file. */
    readonly offsets: Uint32Array;
    at(index: number): StreamEvent;
    [Symbol.iterator](): Iterator<StreamEvent>;
}

/** A MIDI stream file's stream: the file converted to, or the file read. */
export interface Description {
    /** As tonflux-convert counts them. */
    blockCount: number;
    eventCount: number;
    /** The fmt chunk: the SMF's division, the largest buffer, whether events carry stream ids. */
    timeFormat: number;
    maxBufferBytes: number;
    streamIds: boolean;
    /** The first INAM and ICOP texts (UTF-8 if valid, else Shift_JIS), null when absent. */
    title: string | null;
    copyright: string | null;
    /** Null only when memory ran short for them (the conversion itself still succeeded). */
    blocks: Block[] | null;
    events: StreamEvents | null;
}

export interface ConvertResult extends Description {
    direction: Direction;
    /** The output file (with events: false, a view whose buffer may be a little longer). */
    bytes: Uint8Array;
    /** Its name, as tonflux-convert names it: song.mid gives song.mds, TABLE1.MDS gives TABLE1.mid. */
    outputName: string;
}

export type Fault =
    | 'not-smf' | 'cut-short' | 'header-length' | 'format' | 'division' | 'missing-chunks'
    | 'second-header' | 'chunk-past-end' | 'empty-track' | 'long-number' | 'data-without-status'
    | 'bad-status' | 'meta-type' | 'meta-length' | 'end-of-track-not-at-end' | 'no-end-of-track'
    | 'no-track' | 'event-too-large' | 'not-mds' | 'not-riff' | 'chunk-overrun' | 'missing-format'
    | 'format-chunk' | 'time-format' | 'data-size' | 'block-overrun' | 'event-overrun' | 'bad-short-message'
    | 'delta-too-large' | 'text-too-long' | 'out-of-memory';

/** What refused a file, as tonflux-convert reports it. */
export interface Refusal {
    status: 'not-smf' | 'event-too-large' | 'not-mds' | 'mds-malformed' | 'delta-too-large'
        | 'text-too-long' | 'out-of-memory';
    fault: Fault;
    direction: Direction | null;
    /** The SMF chunk, counted from 1 as its header counts them; 0 for the header; null otherwise. */
    chunk: number | null;
    /** The chunk is a track chunk. */
    track: boolean;
    /** The byte offset in the file, where there is one. */
    offset: number | null;
    /** The lenient reading converts the file with the same options (the CLI's "--lenient converts it"). */
    lenient: boolean;
}

/** Thrown for a refused file, with the fields of its Refusal; message is tonflux-convert's
 *  English text. */
export class TonfluxError extends Error {
    constructor(refusal: Refusal);
}
export interface TonfluxError extends Refusal {}

export const version: string;

/** Converts either way, as the content says (a RIFF file of form MIDS goes back to an SMF). */
export function convert(input: Uint8Array | ArrayBuffer | ArrayBufferView, options?: ConvertOptions): ConvertResult;
/** The options of describe: those of convert that shape the stream an SMF converts to. */
export type DescribeOptions = Omit<ConvertOptions, 'name' | 'events'>;
/** The blocks and events of a MIDI stream file of any writer, or of the stream an SMF converts to
 *  with these options (a TonfluxError where convert refuses it). */
export function describe(input: Uint8Array | ArrayBuffer | ArrayBufferView, options?: DescribeOptions): Description;
/** tonflux-convert's words for a refusal. */
export function refusalText(refusal: Refusal, language?: Language): string;
/** tonflux-convert's words for a conversion: "N blocks, M events". */
export function convertedText(result: { blockCount: number; eventCount: number }, language?: Language): string;
/** tonflux-convert's words for a buffer size outside 1 to 63 KB. */
export function bufferSizeText(language?: Language): string;
/** The output name tonflux-convert gives an input of this name. */
export function outputName(name: string | undefined, direction: Direction): string;
