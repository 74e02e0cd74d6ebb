/* WebApiFromC.c: the C interface used from C, as a C caller would include it. */
#include "web/Tonflux.h"

uint32_t ConvertFromC(const uint8_t* image, uint32_t size, uint32_t bufferKb,
                      uint32_t* outputLength) {
    TonfluxOptions options;
    TonfluxResult result;
    TonfluxDefaultOptions(&options);
    options.bufferKb = bufferKb;
    options.describe = 0;
    uint32_t status = TonfluxConvert(image, size, &options, &result);
    *outputLength = result.outputLength;
    TonfluxRelease(&result);
    return status;
}
