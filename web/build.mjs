// build.mjs: bundles the npm package and the page from their sources, the WebAssembly module and
// the converter's texts. Everything a page or a package user needs ends up inside its files, so
// nothing is fetched at run time; the same inputs give the same bytes.
//
//   node web/build.mjs --wasm tonflux.wasm --texts texts.json --version 1.0.0 --out DIR
//
// writes DIR/package/ (the npm package's files) and DIR/page/ (the page's files).
import { build } from 'esbuild';
import { copyFileSync, mkdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { parseArgs } from 'node:util';

const here = dirname(fileURLToPath(import.meta.url));
const { values: args } = parseArgs({
    options: {
        wasm: { type: 'string' }, texts: { type: 'string' }, version: { type: 'string' },
        out: { type: 'string' },
    },
});
for (const name of ['wasm', 'texts', 'version', 'out'])
    if (!args[name]) throw new Error(`build.mjs: --${name} is missing`);
const out = resolve(args.out);

// The module and the texts come from the build, under names the sources import.
const inputs = {
    name: 'tonflux-inputs',
    setup(b) {
        b.onResolve({ filter: /^tonflux:(wasm|texts)$/ }, (a) => ({
            path: resolve(a.path === 'tonflux:wasm' ? args.wasm : args.texts),
        }));
    },
};
const common = {
    bundle: true,
    minify: true,
    legalComments: 'eof',
    target: ['es2020', 'node18'],
    loader: { '.wasm': 'binary', '.json': 'json' },
    define: { TONFLUX_VERSION: JSON.stringify(args.version) },
    plugins: [inputs],
    logLevel: 'warning',
};

// The package: ES module and CommonJS, with its types.
const pkg = join(out, 'package');
rmSync(pkg, { recursive: true, force: true });
mkdirSync(pkg, { recursive: true });
for (const [format, file] of [['esm', 'index.mjs'], ['cjs', 'index.cjs']])
    await build({ ...common, entryPoints: [join(here, 'package/index.js')], format, platform: 'neutral',
                  outfile: join(pkg, file) });
copyFileSync(join(here, 'package/index.d.ts'), join(pkg, 'index.d.ts'));
copyFileSync(join(here, 'package/README.md'), join(pkg, 'README.md'));
copyFileSync(join(here, '../LICENSE'), join(pkg, 'LICENSE'));
const manifest = JSON.parse(readFileSync(join(here, 'package/package.json'), 'utf8'));
manifest.version = args.version;
writeFileSync(join(pkg, 'package.json'), JSON.stringify(manifest, null, 2) + '\n');

// The page: the worker (the package and its glue) as a string inside the page's script, so that
// it can start from a blob: URL, which works from file:// too. Both take the package as built
// above, as any user of it would.
const builtPackage = {
    name: 'tonflux-package',
    setup(b) {
        b.onResolve({ filter: /^tonflux$/ }, () => ({ path: join(pkg, 'index.mjs') }));
    },
};
const page = join(out, 'page');
rmSync(page, { recursive: true, force: true });
mkdirSync(page, { recursive: true });
const worker = await build({ ...common, entryPoints: [join(here, 'page/worker.js')], format: 'iife',
                             platform: 'browser', plugins: [builtPackage], write: false });
const workerSource = {
    name: 'tonflux-worker',
    setup(b) {
        b.onResolve({ filter: /^tonflux:worker$/ }, () => ({ path: 'worker', namespace: 'tonflux-worker' }));
        b.onLoad({ filter: /.*/, namespace: 'tonflux-worker' }, () => ({
            contents: worker.outputFiles[0].text, loader: 'text',
        }));
    },
};
await build({ ...common, entryPoints: [join(here, 'page/page.js')], format: 'iife', platform: 'browser',
              plugins: [builtPackage, workerSource], outfile: join(page, 'tonflux-page.js') });
copyFileSync(join(here, 'page/style.css'), join(page, 'tonflux-page.css'));
writeFileSync(join(page, 'index.html'),
              readFileSync(join(here, 'page/index.html'), 'utf8').replaceAll('@VERSION@', args.version));
copyFileSync(join(here, '../LICENSE'), join(page, 'LICENSE.txt'));
