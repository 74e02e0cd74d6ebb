#include "tests/support/RandomSong.h"

namespace {

uint32_t Pick(std::mt19937& rng, uint32_t below) {
    return uint32_t(rng() % below);
}

Bytes Meta(uint8_t type, const Bytes& data) {
    return Cat({{0xFF, type}, VarLen(uint32_t(data.size())), data});
}

Bytes RandomTrack(std::mt19937& rng, const RandomSongShape& shape, uint32_t index) {
    Bytes out;
    uint8_t runningStatus = 0;
    auto add = [&](uint32_t delta, const Bytes& event) { out = Cat({out, VarLen(delta), event}); };
    if (index == 0) {
        add(0, Meta(0x03, {'R', 'a', 'n', 'd', 'o', 'm'}));
        add(0, Meta(0x02, {'(', 'c', ')'}));
    }
    uint32_t wrapAt = shape.wrapTicks ? Pick(rng, shape.eventsPerTrack) : UINT32_MAX;
    for (uint32_t i = 0; i < shape.eventsPerTrack; ++i) {
        uint32_t delta = Pick(rng, 4) == 0 ? 0 : Pick(rng, 200);
        // Two deltas near the 28-bit limit pass 2^32 within about 16 of them.
        if (i >= wrapAt && i < wrapAt + 17) delta = 0x0FFFFFFF - Pick(rng, 1000);
        const uint32_t kind = Pick(rng, 100);
        const uint8_t channel = uint8_t(Pick(rng, 16));
        if (kind < 60) {
            const uint8_t status =
                uint8_t((Pick(rng, 2) ? 0x90 : 0x80) | (Pick(rng, 3) ? 0 : channel));
            Bytes data{uint8_t(Pick(rng, 128)), uint8_t(Pick(rng, 128))};
            if (status == runningStatus && Pick(rng, 2)) {
                add(delta, data);  // the file's own running status
            } else {
                if (Pick(rng, 50) == 0) data[0] |= 0x80;  // a damaged data byte the reader keeps
                add(delta, Cat({{status}, data}));
            }
            runningStatus = status;
        } else if (kind < 70) {
            const uint8_t status = uint8_t((Pick(rng, 2) ? 0xC0 : 0xD0) | channel);
            add(delta, {status, uint8_t(Pick(rng, 128))});
            runningStatus = status;
        } else if (kind < 76) {
            const uint8_t status = uint8_t((Pick(rng, 2) ? 0xE0 : 0xB0) | channel);
            add(delta, {status, uint8_t(Pick(rng, 128)), uint8_t(Pick(rng, 128))});
            runningStatus = status;
        } else if (kind < 82) {
            const Bytes tempo{uint8_t(Pick(rng, 256)), uint8_t(Pick(rng, 256)),
                              uint8_t(Pick(rng, 256))};
            // Some writers pad the length field (80 03); it is still a tempo.
            add(delta, Pick(rng, 4) ? Meta(0x51, tempo) : Cat({{0xFF, 0x51, 0x80, 0x03}, tempo}));
            runningStatus = 0;
        } else if (kind < 88) {
            Bytes data(Pick(rng, shape.longestSysex + 1));
            for (uint8_t& b : data) b = uint8_t(Pick(rng, 128));
            data.push_back(0xF7);
            add(delta, Cat({{0xF0}, VarLen(uint32_t(data.size())), data}));
            runningStatus = 0;
        } else if (kind < 91) {
            Bytes data(Pick(rng, 6));
            for (uint8_t& b : data) b = uint8_t(Pick(rng, 256));
            add(delta, Cat({{0xF7}, VarLen(uint32_t(data.size())), data}));
            runningStatus = 0;
        } else {
            const uint8_t types[] = {0x01, 0x03, 0x05, 0x06, 0x20, 0x58, 0x59, 0x7F};
            const uint8_t type = types[Pick(rng, 8)];
            Bytes data = type == 0x58   ? Bytes{4, 2, 24, 8}
                         : type == 0x59 ? Bytes{0, 0}
                         : type == 0x20 ? Bytes{uint8_t(channel)}
                                        : Bytes(Pick(rng, 10), 'x');
            add(delta, Meta(type, data));
            runningStatus = 0;
        }
    }
    add(Pick(rng, 100), {0xFF, 0x2F, 0x00});
    return out;
}

}  // namespace

Bytes RandomSong(std::mt19937& rng, const RandomSongShape& shape) {
    SmfImage image;
    image.Format(shape.format).Division(uint16_t(96 + Pick(rng, 900)));
    for (uint32_t t = 0; t < shape.tracks; ++t) image.Track(RandomTrack(rng, shape, t));
    return image.Build();
}
