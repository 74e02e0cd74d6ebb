// WasmExports.cpp: what the WebAssembly module adds to the C interface for its JavaScript loader.
// A loader cannot hand the module a JavaScript function as a C function pointer, so progress and
// the output's pieces go through imports instead.
#include "web/Tonflux.h"

#include <cstdlib>
#include <new>

// Declared to the linker in WasmImports.js.
extern "C" void TonfluxImportedProgress(uint32_t step);
extern "C" uint32_t TonfluxImportedWrite(uint32_t offset, const uint8_t* data, uint32_t length);

namespace {

void ReportProgress(void*, uint32_t step) {
    TonfluxImportedProgress(step);
}

uint32_t HandOver(void*, uint32_t offset, const uint8_t* data, uint32_t length) {
    return TonfluxImportedWrite(offset, data, length);
}

}  // namespace

// The progress callback to put into TonfluxOptions.
extern "C" TonfluxProgress TonfluxWasmProgress() {
    return ReportProgress;
}

// The write to put into TonfluxOptions: the output's pieces go to the loader as they are made.
extern "C" TonfluxWrite TonfluxWasmWrite() {
    return HandOver;
}

// emscripten's C++ library, built without exceptions, ends the program when the plain new fails,
// and its nothrow forms call the plain one. Replaced, so that running out of memory is the null
// that the core checks for, and a status.
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    return std::malloc(n ? n : 1);
}

void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    return std::malloc(n ? n : 1);
}
