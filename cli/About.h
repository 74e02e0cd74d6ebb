// About.h: what tonflux-convert says about itself, its version and its licence, in one place.
#pragma once

#ifndef TONFLUX_VERSION
#define TONFLUX_VERSION "0"
#endif
#define TONFLUX_ABOUT_NAME "tonflux-convert " TONFLUX_VERSION
#define TONFLUX_ABOUT_COPYRIGHT "Copyright (c) 2026 The Tonflux authors"
#define TONFLUX_ABOUT_LICENCE \
    "MIT License: free to use, change and share, without warranty (see LICENSE)"

namespace About {

constexpr const char* VersionLine = TONFLUX_ABOUT_NAME;
constexpr const char* CopyrightLine = TONFLUX_ABOUT_COPYRIGHT;
constexpr const char* LicenceLine = TONFLUX_ABOUT_LICENCE;

// The whole answer to --version; scripts read the version from its first line.
constexpr const char* VersionText =
    TONFLUX_ABOUT_NAME "\n" TONFLUX_ABOUT_COPYRIGHT "\n" TONFLUX_ABOUT_LICENCE "\n";

}  // namespace About
