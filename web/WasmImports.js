// WasmImports.js: tells emscripten which functions the module imports from its loader
// (web/package/), so that any other undefined symbol still fails the link.
mergeInto(LibraryManager.library, {
    TonfluxImportedProgress: function (step) {},
    TonfluxImportedWrite: function (offset, data, length) {},
});
