// worker.js: converts the page's files one at a time, off the page's thread, so that the page
// stays responsive with songs of any size; it reports each step as it ends.
import { convert, TonfluxError } from 'tonflux';
import { MakeRoll } from './roll.js';

function Refusal(error) {
    const { status, fault, direction, chunk, track, offset, lenient } = error;
    return { status, fault, direction, chunk, track, offset, lenient };
}

self.onmessage = async ({ data }) => {
    const { id, file, options } = data;
    const post = (message, transfer = []) => self.postMessage({ id, ...message }, transfer);
    try {
        const input = new Uint8Array(await file.arrayBuffer());
        const result = convert(input, {
            ...options, name: file.name, onProgress: (step) => post({ type: 'progress', step }),
        });
        const { events, bytes, ...rest } = result;
        // A blob passes to the page without a copy, and its bytes need not stay in this worker.
        const blob = new Blob([bytes], { type: result.direction === 'mid-to-mds' ? 'audio/x-mds' : 'audio/midi' });
        const transfer = [];
        let roll = null;
        if (events) {
            roll = MakeRoll(events, result.blocks);
            post({ type: 'progress', step: 'drawn' });
            transfer.push(events.ticks.buffer, roll.pixels.buffer);
            for (const array of Object.values(roll.notes)) if (array.buffer) transfer.push(array.buffer);
        }
        const stream = events ? { ticks: events.ticks, words: events.words, offsets: events.offsets } : null;
        post({ type: 'done', result: { ...rest, blob, events: stream }, roll }, transfer);
    } catch (error) {
        if (error instanceof TonfluxError) post({ type: 'refused', refusal: Refusal(error) });
        else if (error instanceof RangeError)  // the browser could not hold the file or a copy
            post({ type: 'refused', refusal: Refusal(new TonfluxError({ status: 'out-of-memory', fault: 'out-of-memory',
                direction: null, chunk: null, track: false, offset: null, lenient: false })) });
        else post({ type: 'failed', message: String(error && error.message || error) });
    }
};
