#include "cli/MdsInput.h"

#include <cstdio>

#include "cli/Dump.h"
#include "cli/Messages.h"
#include "core/FileSystem.h"

MdsProbe ProbeMdsFile(const std::string& path) {
    uint8_t head[12];
    uint32_t got = 0;
    if (!FileSystem::ReadFileStart(path.c_str(), head, sizeof head, got).Ok())
        return MdsProbe::Unreadable;
    return IsMdsImage(head, got) ? MdsProbe::Mds : MdsProbe::NotMds;
}

std::string MdsRefusal(MdsConversionStatus status, const MdsCheck& fault) {
    char text[512];
    switch (status) {
        case MdsConversionStatus::Ok:
            return "";
        case MdsConversionStatus::NotMds:
            return Text(Msg::NotMds);
        case MdsConversionStatus::Malformed:
            std::snprintf(text, sizeof text, Text(Msg::DumpFault), unsigned(fault.offset));
            return text + std::string(MdsFaultText(fault.fault));
        case MdsConversionStatus::DeltaTooLarge:
            std::snprintf(text, sizeof text, Text(Msg::DeltaTooLarge), unsigned(fault.offset));
            return text;
        case MdsConversionStatus::TextTooLong:
            std::snprintf(text, sizeof text, Text(Msg::TextTooLong), unsigned(fault.offset));
            return text;
    }
    return Text(Msg::Unexpected);
}
