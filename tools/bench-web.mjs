#!/usr/bin/env node
// bench-web.mjs: the WebAssembly conversion (the npm package, in Node) beside the native one-shot
// tonflux-convert, on the four benchmark songs. Each conversion runs in a fresh process, as a
// one-shot tonflux-convert does: read the file, convert, write the output. Both are timed by CPU
// time (user and system), the steadier measure on a shared machine; the best of the runs counts.
// Peak memory is the process's maximum resident set, shown as a multiple of the input over what
// the process held before it read the song (the native program: 3.7 MB; node: about 45 MB).
//
//   node tools/bench-web.mjs [--runs N] [--songs DIR] [--convert PATH] [--package DIR]
//   node tools/bench-web.mjs --page SONG [--convert PATH]
//
// Defaults: 5 runs, build/bench-songs (tools/make-bench-songs.py writes them),
// build/native/cli/tonflux-convert, build/web/package (tools/build-web.sh). --page converts one
// song in the page (build/web/page, opened from file:// in headless Chromium) instead: the wall
// time from choosing the file to its row's picture, the browser's peak memory (the proportional
// sets of its processes, sampled every 200 ms), and the download compared with tonflux-convert's.
import { execFileSync, spawnSync } from 'node:child_process';
import { readdirSync, readFileSync, rmSync, statSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { parseArgs } from 'node:util';

const root = resolve(dirname(fileURLToPath(import.meta.url)), '..');
const { values: args } = parseArgs({
    options: {
        runs: { type: 'string', default: '5' },
        songs: { type: 'string', default: join(root, 'build/bench-songs') },
        convert: { type: 'string', default: join(root, 'build/native/cli/tonflux-convert') },
        package: { type: 'string', default: join(root, 'build/web/package') },
        one: { type: 'string' },  // internal: one conversion in this process
        page: { type: 'string' },
        events: { type: 'boolean', default: false },
    },
});
const output = join(tmpdir(), `tonflux-bench-web-${process.pid}.out`);
const mb = (bytes) => bytes / 1e6;

if (args.one) {
    const { convert } = await import(pathToFileURL(join(args.package, 'index.mjs')).href);
    const before = process.memoryUsage().rss;
    const cpu = process.cpuUsage();
    const result = convert(readFileSync(args.one), { events: args.events });
    writeFileSync(output, result.bytes);
    const used = process.cpuUsage(cpu);
    rmSync(output);
    console.log(JSON.stringify({ cpu: (used.user + used.system) / 1e6, base: before, peak: process.resourceUsage().maxRSS * 1024 }));
    process.exit(0);
}

// The memory of a process and all below it, from /proc: proportional set sizes, so that what the
// processes share counts once.
function TreeRss(pid) {
    let total = 0;
    const children = {};
    for (const entry of readdirSync('/proc')) {
        if (!/^\d+$/.test(entry)) continue;
        try {
            const stat = readFileSync(`/proc/${entry}/stat`, 'utf8');
            const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
            (children[fields[1]] ??= []).push(Number(entry));
        } catch (e) { /* gone meanwhile */ }
    }
    for (const todo = [pid]; todo.length;) {
        const p = todo.pop();
        try {
            total += Number(/Pss:\s+(\d+)/.exec(readFileSync(`/proc/${p}/smaps_rollup`, 'utf8'))?.[1] ?? 0) * 1024;
        } catch (e) { /* gone meanwhile */ }
        todo.push(...(children[p] ?? []));
    }
    return total;
}

if (args.page) {
    const requireWeb = createRequire(join(root, 'web/package.json'));
    const { chromium } = requireWeb('playwright-core');
    const server = await chromium.launchServer({
        executablePath: '/usr/bin/chromium', headless: true,
        args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
               '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    });
    const browser = await chromium.connect(server.wsEndpoint());
    const page = await browser.newPage({ acceptDownloads: true });
    await page.goto(pathToFileURL(join(root, 'build/web/page/index.html')).href);
    const pid = server.process().pid;
    const idle = TreeRss(pid);
    let peak = idle;
    const sampler = setInterval(() => { peak = Math.max(peak, TreeRss(pid)); }, 200);
    const start = performance.now();
    await page.setInputFiles('#files', args.page);
    await page.waitForSelector('#rows > li[data-status=converted] figure:not([hidden]), #rows > li[data-status=refused]',
                               { timeout: 600_000 });
    const seconds = (performance.now() - start) / 1000;
    clearInterval(sampler);
    const status = await page.getAttribute('#rows > li', 'data-status');
    const text = await page.textContent('#rows > li .result');
    let same = 'no download';
    if (status === 'converted') {
        const [download] = await Promise.all([page.waitForEvent('download'), page.click('#rows > li a[download]')]);
        await download.saveAs(`${output}.page`);
        execFileSync(args.convert, ['-q', '-f', '-o', output, args.page]);
        same = readFileSync(`${output}.page`).equals(readFileSync(output)) ? 'the same bytes as tonflux-convert' : 'DIFFERENT from tonflux-convert';
        rmSync(output);
        rmSync(`${output}.page`);
    }
    const size = statSync(args.page).size;
    console.log(`${args.page}: ${mb(size).toFixed(0)} MB, ${status} in ${seconds.toFixed(1)} s (${text}); ` +
                `browser peak ${mb(peak).toFixed(0)} MB (${((peak - idle) / size).toFixed(1)}x the song over its ${mb(idle).toFixed(0)} MB idle); ${same}`);
    await browser.close();
    await server.close();
    process.exit(status === 'converted' && same.startsWith('the same') ? 0 : 1);
}

// The child's CPU time to the microsecond (GNU time prints hundredths), through getrusage.
const Rusage = `import os, resource, sys
pid = os.posix_spawn(sys.argv[1], sys.argv[1:], os.environ)
_, status, r = os.wait4(pid, 0)
sys.exit(1) if status else print(r.ru_utime + r.ru_stime)`;

// Python's own memory would count in that child's peak, so the peak is GNU time's, run apart.
function Native(song) {
    const command = [args.convert, '-q', '-f', '-o', output, song];
    const run = spawnSync('python3', ['-c', Rusage, ...command], { encoding: 'utf8' });
    const time = spawnSync('/usr/bin/time', ['-f', '%M', ...command], { encoding: 'utf8' });
    if (run.status !== 0 || time.status !== 0) throw new Error(run.stderr + time.stderr);
    rmSync(output);
    return { cpu: Number(run.stdout.trim().split(' ')[0]), base: 3.7e6, peak: Number(time.stderr.trim().split('\n').pop()) * 1024 };
}

function Wasm(song, events) {
    const run = execFileSync(process.execPath, [fileURLToPath(import.meta.url), '--one', song, '--package', args.package,
                                                ...(events ? ['--events'] : [])], { encoding: 'utf8' });
    return JSON.parse(run);
}

function Best(measure) {
    let best = null;
    for (let i = 0; i < Number(args.runs); ++i) {
        const m = measure();
        if (!best || m.cpu < best.cpu) best = { ...m, peak: Math.max(m.peak, best?.peak ?? 0) };
    }
    return best;
}

console.log(`| song | MB | native CPU s | native MB/s | native peak | wasm CPU s | wasm MB/s | wasm / native | wasm peak | with the tables: CPU s | MB/s | peak |`);
console.log(`|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|`);
for (const name of ['typical', 'large', 'dense', 'tracks2000']) {
    const song = join(args.songs, `${name}.mid`);
    const size = statSync(song).size;
    const native = Best(() => Native(song));
    const wasm = Best(() => Wasm(song, false));
    const tables = Best(() => Wasm(song, true));
    const rate = (m) => (mb(size) / Math.max(m.cpu, 1e-3)).toFixed(1);
    const peak = (m) => `${((m.peak - m.base) / size).toFixed(1)}x`;
    console.log(`| ${name} | ${mb(size).toFixed(1)} | ${native.cpu.toFixed(3)} | ${rate(native)} | ${peak(native)} | ` +
                `${wasm.cpu.toFixed(3)} | ${rate(wasm)} | ${(native.cpu / wasm.cpu).toFixed(2)} | ${peak(wasm)} | ` +
                `${tables.cpu.toFixed(3)} | ${rate(tables)} | ${peak(tables)} |`);
}
