// support.mjs: what the package's and the page's tests share: where things are, and what
// tonflux-convert itself makes of a file, which every result is compared with.
//
// Environment: TONFLUX_CONVERT (the native tonflux-convert), TONFLUX_WEB (tools/build-web.sh's
// output, with package/ and page/), TONFLUX_WASM (the module), TONFLUX_WEB_INPUTS (a folder for
// the generated inputs).
import { execFileSync, spawnSync } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, readFileSync, readdirSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { basename, dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

export const Root = resolve(dirname(fileURLToPath(import.meta.url)), '../..');
export const Convert = process.env.TONFLUX_CONVERT ?? join(Root, 'build/native/cli/tonflux-convert');
export const Web = process.env.TONFLUX_WEB ?? join(Root, 'build/web');
export const Wasm = process.env.TONFLUX_WASM ?? join(Root, 'build/wasm/web/tonflux.wasm');
const Inputs = process.env.TONFLUX_WEB_INPUTS ?? join(Root, 'build/web-inputs');

// The option sets of the tests, as the package takes them and as the command line spells them.
export const OptionSets = [
    { name: 'defaults', options: {}, args: [] },
    { name: 'small buffers, no running status, no stream ids',
      options: { bufferKb: 1, runningStatus: false, streamIds: false }, args: ['-k', '1', '--no-running-status', '--omit-stream-ids'] },
    { name: 'largest buffers, forgiving import', options: { bufferKb: 63, lenient: true }, args: ['-k', '63', '--lenient'] },
];

// The generated seeds (valid and damaged SMF files, RMID files, MIDI stream files of ours and of
// another writer's layout, damaged ones) and the sample.
export function SmallInputs() {
    const seeds = join(Inputs, 'seeds');
    if (!existsSync(seeds)) {
        mkdirSync(Inputs, { recursive: true });
        execFileSync('python3', [join(Root, 'tools/make-fuzz-seeds.py'), '--plain', seeds], { stdio: 'ignore' });
    }
    return [join(Root, 'samples/sample.mid'), ...readdirSync(seeds).sort().map((f) => join(seeds, f))];
}

// The four benchmark songs (written once; make-bench-songs.py keeps songs already there).
export function BenchSongs() {
    const songs = join(Inputs, 'bench-songs');
    execFileSync('python3', [join(Root, 'tools/make-bench-songs.py'), songs], { stdio: 'ignore' });
    return ['typical', 'large', 'dense', 'tracks2000'].map((s) => join(songs, `${s}.mid`));
}

export function Scratch() {
    return mkdtempSync(join(tmpdir(), 'tonflux-web-'));
}

// What tonflux-convert does with input and args, in language ('en' or 'ja'): { bytes } with its
// output, or { reason } with its message after the file's name (a usage error: its first
// line); counts from its report line.
export function Cli(input, args, language = 'en', scratch = Scratch()) {
    const output = join(scratch, basename(input) + '.out');
    const env = { ...process.env, LC_ALL: '', LC_MESSAGES: '', LANG: language === 'ja' ? 'ja_JP.UTF-8' : 'C.UTF-8' };
    const run = spawnSync(Convert, [...args, '-f', '-o', output, input], { env, encoding: 'utf8' });
    if (run.status === 0) {
        const counts = /(\d+)\D+(\d+)\D*$/.exec(run.stdout.trim());
        return { bytes: readFileSync(output), blocks: Number(counts[1]), events: Number(counts[2]) };
    }
    // A usage error names no file; the first line is its reason.
    const prefix = run.status === 2 ? 'tonflux-convert: ' : `tonflux-convert: '${input}': `;
    if (!run.stderr.startsWith(prefix)) throw new Error(`tonflux-convert ${args.join(' ')} ${input}: ${run.stderr}`);
    const reason = run.stderr.slice(prefix.length);
    return { reason: run.status === 2 ? reason.split('\n')[0] : reason.replace(/\n$/, '') };
}
