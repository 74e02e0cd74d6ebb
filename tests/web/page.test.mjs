// page.test.mjs: the page in Debian's Chromium (headless, driven by playwright-core), against
// tonflux-convert itself: from file:// and from a local server, files put in through the input and
// through a drop, every download compared byte for byte, refusals, options, both languages, and
// no request once the page has loaded. A screenshot is left in TONFLUX_WEB_ARTIFACTS.
//   node --test tests/web/page.test.mjs
import assert from 'node:assert/strict';
import { mkdirSync, readFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { createRequire } from 'node:module';
import { basename, extname, join } from 'node:path';
import { after, before, test } from 'node:test';
import { pathToFileURL } from 'node:url';

import { BenchSongs, Cli, OptionSets, Root, Scratch, SmallInputs, Web } from './support.mjs';

const requireWeb = createRequire(join(Root, 'web/package.json'));
const { chromium } = requireWeb('playwright-core');
const { unzipSync } = requireWeb('fflate');

const Page = join(Web, 'page');
const Artifacts = process.env.TONFLUX_WEB_ARTIFACTS ?? join(Root, 'build/web-test');
const Flags = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
               '--disable-background-networking', '--disable-component-update', '--disable-sync'];
const Long = 240_000;

// A browser of its own (a fresh profile) in locale; every request after the page's load is kept.
async function Open(url, locale) {
    const context = await chromium.launchPersistentContext(Scratch(), {
        executablePath: process.env.TONFLUX_CHROMIUM ?? '/usr/bin/chromium', headless: true,
        args: Flags, locale, acceptDownloads: true, viewport: { width: 1100, height: 1000 },
    });
    const page = context.pages()[0] ?? await context.newPage();
    const late = [];
    let loaded = false;
    context.on('request', (request) => {
        const u = request.url();
        if (loaded && !u.startsWith('blob:') && !u.startsWith('data:')) late.push(u);
    });
    const errors = [];
    page.on('pageerror', (error) => errors.push(String(error)));
    await page.goto(url, { waitUntil: 'load' });
    loaded = true;
    return { context, page, late, errors };
}

// Waits until the page has a row for each of count files and every row has its outcome; returns
// them by input name: status, the result's text, the download's name.
async function Outcomes(page, count) {
    await page.waitForFunction((n) => {
        const rows = [...document.querySelectorAll('#rows > li')];
        return rows.length === n && rows.every((r) => ['converted', 'refused'].includes(r.dataset.status));
    }, count, { timeout: Long, polling: 100 });
    return page.evaluate(() => Object.fromEntries([...document.querySelectorAll('#rows > li')].map((r) => [
        r.dataset.file,
        { status: r.dataset.status, text: r.querySelector('.result').textContent,
          download: r.querySelector('a[download]').getAttribute('download'),
          picture: !r.querySelector('figure').hidden && r.querySelector('canvas').width > 0 },
    ])));
}

async function Download(page, selector) {
    const [download] = await Promise.all([page.waitForEvent('download', { timeout: Long }), page.click(selector)]);
    return { name: download.suggestedFilename(), bytes: readFileSync(await download.path()) };
}

async function SetOptions(page, options) {
    const o = { bufferKb: 4, runningStatus: true, streamIds: true, lenient: false, ...options };
    await page.fill('#buffer-kb', String(o.bufferKb));
    await page.dispatchEvent('#buffer-kb', 'change');
    await page.setChecked('#running-status', o.runningStatus);
    await page.setChecked('#stream-ids', o.streamIds);
    await page.setChecked('#lenient', o.lenient);
}

// What the page's row of input should show with args, as tonflux-convert says it.
function CheckRow(outcome, input, args, language, where) {
    const cli = Cli(input, args, language);
    assert.ok(outcome, `${where}: no row`);
    if (cli.bytes) {
        assert.equal(outcome.status, 'converted', `${where}: ${outcome.text}`);
        assert.equal(outcome.text, language === 'ja' ? `ブロック数 ${cli.blocks}、イベント数 ${cli.events}`
                                                     : `${cli.blocks} blocks, ${cli.events} events`, where);
        assert.ok(outcome.picture, `${where}: no picture`);
    } else {
        assert.equal(outcome.status, 'refused', where);
        assert.equal(outcome.text, cli.reason, where);
    }
    return cli;
}

let server;
let served;
before(async () => {
    mkdirSync(Artifacts, { recursive: true });
    const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.txt': 'text/plain' };
    server = createServer((request, response) => {
        let path = join(Page, decodeURIComponent(new URL(request.url, 'http://x').pathname));
        if (path.endsWith('/')) path = join(path, 'index.html');
        try {
            const body = readFileSync(path);
            response.writeHead(200, { 'content-type': types[extname(path)] ?? 'application/octet-stream' });
            response.end(body);
        } catch (e) {
            response.writeHead(404);
            response.end();
        }
    });
    await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
    served = `http://127.0.0.1:${server.address().port}/`;
});
after(() => server.close());

test('from file://: every file and option set gives the converter\'s output or its refusal, one by one and in the zip', async () => {
    const { context, page, late, errors } = await Open(pathToFileURL(join(Page, 'index.html')).href, 'en-US');
    try {
        const inputs = SmallInputs();
        await page.setInputFiles('#files', inputs);
        for (const set of OptionSets) {
            await SetOptions(page, set.options);
            const outcomes = await Outcomes(page, inputs.length);
            const expected = {};
            for (const input of inputs) {
                const name = basename(input);
                const cli = CheckRow(outcomes[name], input, set.args, 'en', `${name} with ${set.name}`);
                if (cli.bytes) expected[outcomes[name].download] = cli.bytes;
            }
            const zip = await Download(page, '#download-all');
            const entries = unzipSync(new Uint8Array(zip.bytes));
            assert.deepEqual(Object.keys(entries).sort(), Object.keys(expected).sort(), set.name);
            for (const [name, bytes] of Object.entries(entries))
                assert.ok(Buffer.from(bytes).equals(expected[name]), `${name} in the zip with ${set.name}`);
        }
        const one = await Download(page, '[data-file="sample.mid"] a[download]');
        assert.equal(one.name, 'sample.mds');
        assert.ok(one.bytes.equals(Cli(inputs[0], OptionSets.at(-1).args).bytes));
        assert.deepEqual(errors, []);
        assert.deepEqual(late, [], 'requests after the page loaded');
    } finally {
        await context.close();
    }
});

test('the bench songs download as the converter writes them; the picture tells the event under the pointer', async () => {
    const { context, page, late, errors } = await Open(pathToFileURL(join(Page, 'index.html')).href, 'en-US');
    try {
        const songs = BenchSongs();
        await page.setInputFiles('#files', songs);
        const outcomes = await Outcomes(page, songs.length);
        for (const song of songs) {
            const name = basename(song);
            const cli = CheckRow(outcomes[name], song, [], 'en', name);
            const download = await Download(page, `[data-file="${name}"] a[download]`);
            assert.equal(download.name, name.replace('.mid', '.mds'));
            assert.ok(download.bytes.equals(cli.bytes), `${name}: the download differs from tonflux-convert's`);
        }
        const typical = page.locator('[data-file="typical.mid"]');
        await typical.locator('canvas').hover({ position: { x: 300, y: 120 } });
        assert.match(await typical.locator('figcaption').textContent(), /^block \d+ \(from tick \d+, \d+ bytes\) · tick \d+ \(offset 0x[0-9A-F]+\) · \S/);
        await page.click('#clear');
        await page.setInputFiles('#files', songs[0]);
        await Outcomes(page, 1);
        await page.setViewportSize({ width: 1100, height: 1120 });
        await page.locator('[data-file="typical.mid"] canvas').hover({ position: { x: 520, y: 150 } });
        await page.screenshot({ path: join(Artifacts, 'page.png') });
        assert.deepEqual(errors, []);
        assert.deepEqual(late, [], 'requests after the page loaded');
    } finally {
        await context.close();
    }
});

test('files dropped on the page, or chosen from the keyboard, are converted too', async () => {
    const { context, page, errors } = await Open(pathToFileURL(join(Page, 'index.html')).href, 'en-US');
    try {
        const inputs = SmallInputs();
        const dropped = [inputs[0], inputs.find((i) => basename(i) === 'fault-status-f4.mid'),
                         inputs.find((i) => basename(i) === 'mds-foreign.mds')];
        const files = dropped.map((f) => ({ name: basename(f), bytes: [...readFileSync(f)] }));
        const transfer = await page.evaluateHandle((list) => {
            const data = new DataTransfer();
            for (const f of list) data.items.add(new File([new Uint8Array(f.bytes)], f.name));
            return data;
        }, files);
        await page.dispatchEvent('#drop', 'drop', { dataTransfer: transfer });
        const outcomes = await Outcomes(page, dropped.length);
        for (const input of dropped) CheckRow(outcomes[basename(input)], input, [], 'en', `dropped ${basename(input)}`);
        // The drop area is the next stop after the language switch, and Enter there opens the file
        // input's chooser (held back here: a chooser in a headless browser proves nothing more).
        await page.focus('#lang');
        await page.keyboard.press('Tab');
        assert.equal(await page.evaluate(() => document.activeElement.id), 'drop');
        await page.evaluate(() => document.querySelector('#files').addEventListener('click', (e) => {
            window.chosen = true;
            e.preventDefault();
        }));
        await page.keyboard.press('Enter');
        assert.equal(await page.evaluate(() => window.chosen), true);
        assert.deepEqual(errors, []);
    } finally {
        await context.close();
    }
});

test('from a local server, in Japanese as the browser asks, then in English; the options are kept', async () => {
    const { context, page, late, errors } = await Open(served, 'ja-JP');
    try {
        assert.equal(await page.getAttribute('html', 'lang'), 'ja');
        assert.match(await page.textContent('#privacy'), /コンピューターの外に出ません/);
        const inputs = SmallInputs().filter((i) => /^(sample|fault-|mds-fault|sysex-too-large|lenient-rmid\.)/.test(basename(i)));
        await SetOptions(page, { bufferKb: 1 });
        await page.setInputFiles('#files', inputs);
        for (const language of ['ja', 'en']) {
            await page.selectOption('#lang', language);
            const outcomes = await Outcomes(page, inputs.length);
            for (const input of inputs) CheckRow(outcomes[basename(input)], input, ['-k', '1'], language, `${basename(input)} in ${language}`);
        }
        await page.fill('#buffer-kb', '64');
        await page.dispatchEvent('#buffer-kb', 'change');
        assert.equal(await page.textContent('#buffer-error'), Cli(inputs[0], ['-k', '64']).reason);
        await page.reload({ waitUntil: 'load' });
        assert.equal(await page.inputValue('#buffer-kb'), '1', 'the last valid options are kept');
        assert.equal(await page.getAttribute('html', 'lang'), 'en', 'the language chosen is kept');
        assert.deepEqual(errors, []);
        assert.deepEqual(late.filter((u) => !u.startsWith(served)), [], 'requests to anywhere else');
    } finally {
        await context.close();
    }
});
