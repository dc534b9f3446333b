// The command line: `qsrch find` and `qsrch demo` with their options, parsed
// by CLI11 into settings whose defaults are the library's own.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <qsrch/qsrch.h>

#include "image_io.hpp"

namespace qtool {

enum class Format { Table, Json, Csv };

struct Rect32 {
    int32_t x, y, width, height;
};

struct FindSettings {
    std::string pattern;
    std::vector<std::string> scenes;
    std::optional<Rect32> roi;       // the pattern's part to train on; the whole image when empty
    std::string patternMask;         // care mask of the pattern image; empty for none
    std::string sceneMask;           // care mask of every scene; empty for none
    bool colour = false;             // search the three colour planes
    qsrch_trainParams train;         // the top-level training parameters
    qsrch_runParams run;             // the top-level run parameters
    qsrch_normcorr_runParams extra;  // what the top-level lacks: region, limits, weights, scoring
    Format format = Format::Table;
    std::string draw;  // picture file (one scene) or folder; empty for none
    int jobs = 1;
    DecodeLimits limits;  // what any image read may cost
};

struct DemoSettings {
    std::string out = ".";
    std::string samples;
};

struct Command {
    enum Kind { Find, Demo, Exit } kind = Exit;
    int exitStatus = 0;  // for Exit: help and version give 0, errors 2
    FindSettings find;
    DemoSettings demo;
};

// The tool's default overlap of two results: see defaultFindSettings().
constexpr float kDefaultOverlap = 0.5f;

// Library defaults for every find setting but the overlap (throws ToolError
// on failure).
FindSettings defaultFindSettings();

// The record a search runs with: the top-level run's parameters made by the
// library's converter, then what only the normalized-correlation interface
// has, from s.extra (throws ToolError on failure).
qsrch_normcorr_runParams searchRunParams(const FindSettings& s);

// Parses the command line; a usage error prints one line on stderr and
// gives Exit with status 2, help and version print and give Exit with 0.
Command parseCommandLine(int argc, char** argv);

}  // namespace qtool
