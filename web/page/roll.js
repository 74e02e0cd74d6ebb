// roll.js: the piano roll of a stream, made from the events the stream holds (the file written,
// or the file read), so that it shows what a player plays. Made in the worker, as pixels: a song of
// millions of notes would keep a canvas busy for seconds.
export const RollWidth = 1200;
export const RollHeight = 320;
export const TempoStrip = 8;  // the strip at the top where tempo changes are marked

// One colour per channel, apart from each other and dark enough to read on white.
export const ChannelColours = [
    '#1f77b4', '#e8590c', '#2b8a3e', '#c92a2a', '#7048e8', '#8c564b', '#d6336c', '#868e96',
    '#a08e00', '#0c8599', '#364fc7', '#5c940d', '#a61e4d', '#862e9c', '#e67700', '#087f5b',
];
const Paper = Pixel('#ffffff');
const OctaveLine = Pixel('#eef1f4');
const BlockLine = Pixel('#c5d3e2');
const TempoMark = Pixel('#000000');

function Pixel(hex) {
    const v = parseInt(hex.slice(1), 16);
    // ImageData holds R, G, B, A in that order of bytes: a little-endian word reads them backwards.
    return (0xFF000000 | (v & 0xFF) << 16 | (v & 0xFF00) | (v >>> 16 & 0xFF)) >>> 0;
}
const Colours = ChannelColours.map(Pixel);

// Notes by pairing each note-on with the note-off (or note-on of velocity 0) of its channel and
// key, the first one started ending first; notes still sounding at the end last to the last tick.
// Each note: its start and end tick, key | channel << 8 | velocity << 16, and its note-on's index.
export function Notes(events) {
    const { ticks, words } = events;
    const n = ticks.length;
    let count = 0;
    for (let i = 0; i < n; ++i) {
        const w = words[i];
        if ((w & 0xFF0000F0) === 0x90 && (w >>> 16 & 0xFF) !== 0) ++count;
    }
    const start = new Uint32Array(count), end = new Uint32Array(count);
    const key = new Uint32Array(count), event = new Uint32Array(count);
    const head = new Int32Array(16 * 128).fill(-1), tail = new Int32Array(16 * 128).fill(-1);
    const next = new Int32Array(count);
    let last = 0;
    for (let i = 0, k = 0; i < n; ++i) {
        const w = words[i], tick = ticks[i];
        if (tick > last) last = tick;
        if (w >>> 24 !== 0) continue;
        const status = w & 0xF0, note = w >>> 8 & 0x7F, velocity = w >>> 16 & 0x7F;
        if (status !== 0x80 && status !== 0x90) continue;
        const slot = (w & 0x0F) * 128 + note;
        if (status === 0x90 && velocity !== 0) {
            start[k] = tick;
            end[k] = 0xFFFFFFFF;
            key[k] = note | (w & 0x0F) << 8 | velocity << 16;
            event[k] = i;
            next[k] = -1;
            if (tail[slot] >= 0) next[tail[slot]] = k; else head[slot] = k;
            tail[slot] = k++;
        } else if (head[slot] >= 0) {
            const first = head[slot];
            end[first] = tick;
            head[slot] = next[first];
            if (head[slot] < 0) tail[slot] = -1;
        }
    }
    for (let k = 0; k < count; ++k) if (end[k] === 0xFFFFFFFF) end[k] = last;
    return { start, end, key, event, last };
}

// The roll as RGBA pixels of RollWidth x RollHeight, with what a pointer needs to find a tick and
// a key again: ticks 0 to span across, keys high to low down.
export function MakeRoll(events, blocks) {
    const notes = Notes(events);
    let low = 127, high = 0, tempos = 0;
    for (let k = 0; k < notes.key.length; ++k) {
        const note = notes.key[k] & 0x7F;
        if (note < low) low = note;
        if (note > high) high = note;
    }
    if (low > high) low = high = 60;
    low = Math.max(0, low - 1);
    high = Math.min(127, high + 1);
    const span = Math.max(1, notes.last);
    const pixels = new Uint32Array(RollWidth * RollHeight).fill(Paper);
    const column = (tick) => Math.min(RollWidth - 1, Math.floor(tick / span * (RollWidth - 1)));
    const rowHeight = (RollHeight - TempoStrip) / (high - low + 1);
    const top = (note) => TempoStrip + Math.floor((high - note) * rowHeight);
    const bottom = (note) => Math.max(top(note) + 1, TempoStrip + Math.floor((high - note + 1) * rowHeight));
    const fill = (x0, x1, y0, y1, colour) => {
        for (let y = y0; y < y1; ++y) pixels.fill(colour, y * RollWidth + x0, y * RollWidth + x1);
    };
    for (let note = low; note <= high; ++note)
        if (note % 12 === 0) fill(0, RollWidth, bottom(note) - 1, bottom(note), OctaveLine);
    let drawn = -1;
    for (const block of blocks) {
        const x = column(block.tickStart);
        if (x === drawn) continue;  // many small blocks may share a column
        fill(x, x + 1, TempoStrip, RollHeight, BlockLine);
        drawn = x;
    }
    // Most notes of a long song are a pixel or two wide: plain stores beat a fill call per row.
    const tops = new Int32Array(128), bottoms = new Int32Array(128);
    for (let note = low; note <= high; ++note) {
        tops[note] = top(note) * RollWidth;
        bottoms[note] = bottom(note) * RollWidth;
    }
    const scale = (RollWidth - 1) / span;
    for (let k = 0; k < notes.key.length; ++k) {
        const x0 = Math.min(RollWidth - 1, Math.floor(notes.start[k] * scale));
        const x1 = Math.max(x0 + 1, Math.min(RollWidth - 1, Math.floor(notes.end[k] * scale)));
        const key = notes.key[k], note = key & 0x7F, colour = Colours[key >>> 8 & 0x0F];
        for (let row = tops[note]; row < bottoms[note]; row += RollWidth)
            for (let x = row + x0; x < row + x1; ++x) pixels[x] = colour;
    }
    const { ticks, words } = events;
    for (let i = 0; i < ticks.length; ++i) {
        if (words[i] >>> 24 !== 0x01) continue;
        ++tempos;
        const x = Math.min(column(ticks[i]), RollWidth - 2);
        fill(x, x + 2, 0, TempoStrip - 2, TempoMark);
    }
    return {
        width: RollWidth, height: RollHeight, pixels: new Uint8ClampedArray(pixels.buffer),
        span, low, high, rowHeight, tempos, notes,
    };
}
