// package.test.mjs: the npm package in Node, against tonflux-convert itself.
//   node --test tests/web/package.test.mjs
import assert from 'node:assert/strict';
import { readFileSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { basename, join } from 'node:path';
import { test } from 'node:test';

import { BenchSongs, Cli, OptionSets, Scratch, SmallInputs, Wasm, Web } from './support.mjs';

const tonflux = await import(join(Web, 'package/index.mjs'));
const { convert, describe, refusalText, outputName, TonfluxError } = tonflux;

test('every file converts as tonflux-convert converts it, or is refused with its words', () => {
    for (const set of OptionSets) {
        for (const input of SmallInputs()) {
            const cli = Cli(input, set.args);
            const bytes = readFileSync(input);
            const where = `${basename(input)} with ${set.name}`;
            // Without the tables the output is handed over as it is made, not kept in the module.
            for (const events of [true, false]) {
                if (cli.bytes) {
                    const result = convert(bytes, { ...set.options, events, name: basename(input) });
                    assert.deepEqual(Buffer.from(result.bytes), cli.bytes, where);
                    assert.deepEqual([result.blockCount, result.eventCount], [cli.blocks, cli.events], where);
                    if (events) assert.deepEqual([result.blocks.length, result.events.length], [cli.blocks, cli.events], where);
                } else {
                    assert.throws(() => convert(bytes, { ...set.options, events }), (error) => {
                        assert.ok(error instanceof TonfluxError, where);
                        assert.equal(error.message, cli.reason, where);
                        return true;
                    });
                }
            }
        }
    }
    // Songs of many pieces.
    for (const song of BenchSongs())
        assert.ok(Buffer.from(convert(readFileSync(song), { events: false }).bytes).equals(Cli(song, []).bytes), song);
});

test('a refusal carries the fault and where it is, in both languages as the converter says it', () => {
    const seeds = SmallInputs();
    const seed = (name) => seeds.find((s) => basename(s) === name);
    const cases = [
        { file: 'fault-data-byte-after-meta.mid', fault: 'data-without-status', chunk: 1, track: true, lenient: true },
        { file: 'fault-format-3.mid', fault: 'format', chunk: 0, track: false, lenient: false },
        { file: 'fault-status-f4.mid', fault: 'bad-status', chunk: 1, track: true, lenient: false },
        // describe converts an SMF to describe its stream, and refuses it as convert does.
        { file: 'fault-status-f4.mid', describe: true, fault: 'bad-status', chunk: 1, track: true },
        { file: 'sysex-too-large-1k.mid', describe: true, status: 'event-too-large', options: { bufferKb: 1 } },
        { file: 'fault-garbage.mid', fault: 'not-smf', chunk: 0, track: false, lenient: false },
        { file: 'sysex-too-large-1k.mid', status: 'event-too-large', options: { bufferKb: 1 } },
        { file: 'mds-fault-cut.mds', status: 'mds-malformed', direction: 'mds-to-mid' },
        { file: 'mds-fault-status-f8.mds', fault: 'bad-short-message', direction: 'mds-to-mid' },
        { file: 'mds-delta-too-large.mds', fault: 'delta-too-large', direction: 'mds-to-mid' },
        // Cut short, which the lenient reading mends, around a message too large for 1 KB: the
        // hint only where the lenient conversion with the same options succeeds.
        { file: 'sysex-too-large-1k.mid', cut: 2, fault: 'cut-short', lenient: true },
        { file: 'sysex-too-large-1k.mid', cut: 2, fault: 'cut-short', lenient: false, options: { bufferKb: 1 } },
    ];
    const scratch = Scratch();
    for (const c of cases) {
        let input = seed(c.file);
        if (c.cut) {
            const bytes = readFileSync(input);
            input = join(scratch, `cut-${c.file}`);
            writeFileSync(input, bytes.subarray(0, bytes.length - c.cut));
        }
        const args = c.options ? ['-k', String(c.options.bufferKb)] : [];
        let error = null;
        try {
            (c.describe ? describe : convert)(readFileSync(input), c.options);
        } catch (e) {
            error = e;
        }
        assert.ok(error instanceof TonfluxError, c.file);
        for (const key of ['status', 'fault', 'chunk', 'track', 'lenient', 'direction'])
            if (key in c) assert.equal(error[key], c[key], `${c.file}: ${key}`);
        if (error.offset !== null) assert.match(Cli(input, args).reason, new RegExp(`0x${error.offset.toString(16)}\\b|\\b${error.offset}\\b`, 'i'));
        assert.equal(refusalText(error, 'en'), Cli(input, args).reason, c.file);
        assert.equal(refusalText(error, 'ja'), Cli(input, args, 'ja').reason, c.file);
    }
});

test('a song survives MID -> MDS -> MID -> MDS unchanged, with every option set', () => {
    for (const set of OptionSets) {
        for (const file of ['samples/sample.mid', 'seeds/every-kind-format1.mid', 'seeds/random-3.mid', 'seeds/tempo-map.mid']) {
            const input = file.startsWith('samples') ? SmallInputs()[0] : SmallInputs().find((s) => s.endsWith(file));
            const mds = convert(readFileSync(input), set.options);
            const mid = convert(mds.bytes, set.options);
            const again = convert(mid.bytes, set.options);
            assert.equal(mid.direction, 'mds-to-mid');
            assert.deepEqual(again.bytes, mds.bytes, `${file} with ${set.name}`);
            assert.deepEqual(again.events.ticks, mds.events.ticks, file);
            assert.equal(again.title, mds.title, file);
        }
    }
});

test('describe tables the stream a player plays, and the result carries the song texts', () => {
    const sample = convert(readFileSync(SmallInputs()[0]));
    assert.equal(sample.title, 'Tonflux Sample Song');
    assert.equal(describe(sample.bytes).copyright, sample.copyright);
    const input = SmallInputs().find((s) => s.endsWith('every-kind-format1.mid'));
    const mds = convert(readFileSync(input), { bufferKb: 1 });
    const described = describe(mds.bytes);
    assert.equal(described.timeFormat, mds.timeFormat);
    assert.equal(described.maxBufferBytes, 1024);
    assert.ok(described.blocks.length > 1, 'a 1 KB buffer cuts the song into blocks');
    let next = 0;
    for (const block of described.blocks) {
        assert.equal(block.firstEvent, next);
        assert.equal(described.events.offsets[block.firstEvent], block.offset);
        next += block.eventCount;
    }
    assert.equal(next, described.events.length);
    const kinds = new Set([...described.events].map((e) => e.kind));
    assert.deepEqual([...kinds].sort(), ['long', 'short', 'tempo']);
    assert.deepEqual(described.events.words, mds.events.words);
    // An SMF is described as the stream it converts to, with the same options.
    const { bytes, direction, outputName: name, ...stream } = mds;
    assert.deepEqual(describe(readFileSync(input), { bufferKb: 1 }), stream);
});

test('output names and options are taken as tonflux-convert takes them', () => {
    const names = [
        ['song.mid', 'mid-to-mds', 'song.mds'], ['TABLE1.MDS', 'mds-to-mid', 'TABLE1.mid'],
        ['track07.dat', 'mds-to-mid', 'track07.mid'], ['a.b.midi', 'mid-to-mds', 'a.b.mds'],
        ['noext', 'mid-to-mds', 'noext.mds'], ['dir/sub/x.rmi', 'mid-to-mds', 'x.mds'],
    ];
    for (const [name, direction, expected] of names) assert.equal(outputName(name, direction), expected, name);
    const sample = readFileSync(SmallInputs()[0]);
    for (const bufferKb of [0, 64, 1.5, '4']) assert.throws(() => convert(sample, { bufferKb }), RangeError, String(bufferKb));
    assert.throws(() => convert('not bytes'), TypeError);
    const steps = [];
    convert(sample, { onProgress: (step) => steps.push(step) });
    assert.deepEqual(steps, ['read', 'encoded', 'written', 'described']);
    assert.equal(convert(sample, { events: false }).events, null);
    // A callback that throws leaves the package usable.
    assert.throws(() => convert(sample, { onProgress: () => { throw new Error('stop'); } }), /stop/);
    assert.equal(convert(sample).bytes.length, convert(sample.buffer.slice(sample.byteOffset, sample.byteOffset + sample.length)).bytes.length);
});

test('CommonJS gives the same package', () => {
    const required = createRequire(import.meta.url)(join(Web, 'package/index.cjs'));
    const sample = readFileSync(SmallInputs()[0]);
    assert.deepEqual(required.convert(sample).bytes, convert(sample).bytes);
    assert.equal(required.version, tonflux.version);
});

test('the module can only report progress, hand over its output and grow its memory: nothing in it can end the process', () => {
    const wasm = readFileSync(Wasm);
    const imports = WebAssembly.Module.imports(new WebAssembly.Module(wasm)).map((i) => `${i.module}.${i.name}`);
    assert.deepEqual(imports.sort(), ['env.TonfluxImportedProgress', 'env.TonfluxImportedWrite', 'env.emscripten_notify_memory_growth']);
});
