// Options are bound straight to the library's parameter records after their
// init functions ran, so every default shown by --help is the library's
// but the overlap's (see defaultFindSettings).
#include "options.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <utility>

#include <CLI/CLI.hpp>

#include "tool_error.hpp"

namespace qtool {
namespace {

void check(qsrch_status s, const char* what)
{
    if (QSRCH_FAILED(s)) throw ToolError(std::string(what) + ": " + qsrch_statusName(s));
}

std::string granularityText(const qsrch_trainParams& t)
{
    if (t.autoSelectGranularity != 0) return t.autoSelectByTrial != 0 ? "trial" : "auto";
    return std::to_string(t.coarseGranularity) + "," + std::to_string(t.fineGranularity);
}

// A whole decimal int32, nothing before or after it.
bool parseInt(const std::string& text, int32_t& value)
{
    const char* end = text.data() + text.size();
    const std::from_chars_result r = std::from_chars(text.data(), end, value);
    return !text.empty() && r.ec == std::errc() && r.ptr == end;
}

// "auto" (from the pattern size), "trial" (by trial searches) or COARSE[,FINE].
void applyGranularity(const std::string& text, qsrch_trainParams& t)
{
    if (text == "auto" || text == "trial") {
        t.autoSelectGranularity = 1;
        t.autoSelectByTrial = text == "trial";
        return;
    }
    const size_t comma = text.find(',');
    int32_t coarse = 0, fine = t.fineGranularity;
    if (!parseInt(text.substr(0, comma), coarse) ||
        (comma != std::string::npos && !parseInt(text.substr(comma + 1), fine)))
        throw ToolError("--granularity " + text + ": expected auto, trial or COARSE[,FINE] (whole numbers)");
    t.autoSelectGranularity = 0;
    t.autoSelectByTrial = 0;
    t.coarseGranularity = coarse;
    t.fineGranularity = fine;
}

std::string joined(const double* values, int n)
{
    std::ostringstream text;
    for (int i = 0; i < n; ++i) text << (i ? "," : "") << values[i];
    return text.str();
}

// The option a refusal of the run parameters points at, and its rule.
std::string refusalText(qsrch_status s)
{
    const char* text = "run parameters";
    switch (s) {
    case QSRCH_E_BAD_ACCEPT_THRESHOLD: text = "--accept: must lie between 0 and 1"; break;
    case QSRCH_E_BAD_CONFUSION_THRESHOLD: text = "--confusion: must lie between 0 and 1"; break;
    case QSRCH_E_ACCEPT_ABOVE_CONFUSION: text = "--accept/--confusion: --accept must not exceed --confusion"; break;
    case QSRCH_E_BAD_NUM_TO_FIND: text = "--num: must be at least 1"; break;
    case QSRCH_E_BAD_OVERLAP: text = "--overlap: must lie between 0 and 1"; break;
    case QSRCH_E_BAD_CONTRAST_MIN: text = "--contrast-min: must be at least 0"; break;
    case QSRCH_E_CONTRAST_RANGE: text = "--contrast-min/--contrast-max: the minimum exceeds the maximum"; break;
    case QSRCH_E_BAD_BRIGHTNESS_MIN: text = "--brightness-min: must be at least 0"; break;
    case QSRCH_E_BRIGHTNESS_RANGE:
        text = "--brightness-min/--brightness-max: the minimum exceeds the maximum";
        break;
    default: break;
    }
    return std::string(text) + " (" + qsrch_statusName(s) + ")";
}

// Raw option values that need more than a field to land in.
struct Pending {
    std::vector<int32_t> roi;
    std::vector<double> region, planeWeights;
    std::string granularity;
    bool json = false, csv = false, absolute = false, shapeScore = false, surround = false;
    int shapeThreshold = 0;
};

void addFindOptions(CLI::App& find, FindSettings& s, Pending& p)
{
    find.add_option("PATTERN", s.pattern,
                    "Image of the pattern to find: PNG, JPEG, PGM or PPM (- reads standard input)")
        ->required();
    find.add_option("SCENE", s.scenes, "Images to search (- reads standard input)")->required();
    find.add_option("--num", s.run.numToFind, "Number of results to report per scene, best first")
        ->capture_default_str();
    find.add_option("--accept", s.run.acceptThreshold, "Score at which a result is accepted")
        ->capture_default_str();
    find.add_option("--confusion", s.run.confusionThreshold,
                    "Score at which a result is certain: the search ends once --num results reach it. "
                    "Lower is faster; higher refines more candidates and misses fewer matches")
        ->capture_default_str();
    find.add_option("--overlap", s.run.overlapFraction,
                    "Largest share of the pattern's area that two results may overlap: two that overlap "
                    "more are one match found twice, and only the better is reported (1: merge only "
                    "results within a pixel of each other)")
        ->capture_default_str();
    find.add_option("--roi", p.roi, "Train on this part of the pattern image only")
        ->expected(4)
        ->delimiter(',')
        ->option_text("X,Y,W,H");
    find.add_option("--pattern-mask", s.patternMask, "Care mask of the pattern image (0: ignore the pixel)")
        ->type_name("FILE");
    find.add_option("--scene-mask", s.sceneMask, "Care mask of the scenes (0: ignore the pixel)")
        ->type_name("FILE");
    find.add_option("--region", p.region, "Positions the pattern's top-left pixel may take in the scene")
        ->expected(4)
        ->delimiter(',')
        ->option_text("X,Y,W,H");
    find.add_option("--granularity", p.granularity,
                    "auto (from the pattern size), trial (by trial searches) or COARSE[,FINE]. A coarser "
                    "start scores fewer positions and is faster, but may miss a match whose detail it "
                    "cannot see; 1 scores every position")
        ->default_str(granularityText(s.train))
        ->type_name("G");
    find.add_flag("--surround", p.surround,
                  "Reduce the pattern with a band of 2 pixels of its image (needs --roi with room)");
    find.add_flag("--colour,--color", s.colour, "Search the red, green and blue planes, not grey");
    find.add_option("--plane-weights", p.planeWeights, "Weights of the planes in colour search")
        ->expected(3)
        ->delimiter(',')
        ->option_text("R,G,B=" + joined(s.extra.planeWeights, 3));
    find.add_option("--contrast-min", s.extra.contrastMin, "Lowest contrast of a result")
        ->capture_default_str();
    find.add_option("--contrast-max", s.extra.contrastMax, "Highest contrast of a result")
        ->capture_default_str();
    find.add_option("--brightness-min", s.extra.brightnessMin, "Lowest brightness of a result")
        ->capture_default_str();
    find.add_option("--brightness-max", s.extra.brightnessMax, "Highest brightness of a result")
        ->capture_default_str();
    find.add_flag("--absolute", p.absolute, "Score inverted matches too (absolute correlation)");
    find.add_flag("--shape-score", p.shapeScore, "Offer results the shape score");
    find.add_option("--shape-threshold", p.shapeThreshold, "Foreground level of the shape score")
        ->check(CLI::Range(0, 255))
        ->option_text("0-255=" + std::to_string(p.shapeThreshold));
    auto* json = find.add_flag("--json", p.json, "Print one JSON array, an object per scene");
    auto* csv = find.add_flag("--csv", p.csv, "Print CSV, a row per result");
    json->excludes(csv);
    find.add_option("--draw", s.draw,
                    "Write each scene with its results outlined as PNG (a folder for several)")
        ->type_name("PATH");
    find.add_option("-j,--jobs", s.jobs, "Search this many scenes at a time")
        ->check(CLI::Range(1, 256))
        ->option_text("N=" + std::to_string(s.jobs));
    find.add_option("--max-pixels", s.limits.maxPixels, "Refuse images of more pixels than this (at most 2^30)")
        ->check(CLI::Range(uint64_t(1), uint64_t(1) << 30))
        ->option_text("N=" + std::to_string(s.limits.maxPixels));
}

void applyRegionAndWeights(const Pending& p, FindSettings& s)
{
    if (!p.region.empty()) {
        const auto finite = [](double v) { return std::isfinite(v); };
        if (!std::all_of(p.region.begin(), p.region.end(), finite) || !(p.region[2] > 0) || !(p.region[3] > 0))
            throw ToolError("--region: X,Y,W,H must be finite numbers, W and H above 0");
        s.extra.searchRegion.x = p.region[0];
        s.extra.searchRegion.y = p.region[1];
        s.extra.searchRegion.width = p.region[2];
        s.extra.searchRegion.height = p.region[3];
    }
    if (!p.planeWeights.empty()) {
        const auto usable = [](double w) { return std::isfinite(w) && w >= 0; };
        if (!std::all_of(p.planeWeights.begin(), p.planeWeights.end(), usable))
            throw ToolError("--plane-weights: R,G,B must be finite numbers of at least 0");
        for (int i = 0; i < 3; ++i) s.extra.planeWeights[i] = p.planeWeights[i];
    }
}

// The library's range rules let a NaN limit through, which then filters
// out every result; no option of the tool takes one.
void refuseNaN(const FindSettings& s)
{
    const std::pair<const char*, double> numbers[] = {
        {"--accept", s.run.acceptThreshold},      {"--confusion", s.run.confusionThreshold},
        {"--overlap", s.run.overlapFraction},     {"--contrast-min", s.extra.contrastMin},
        {"--contrast-max", s.extra.contrastMax},  {"--brightness-min", s.extra.brightnessMin},
        {"--brightness-max", s.extra.brightnessMax},
    };
    for (const auto& [option, value] : numbers)
        if (std::isnan(value)) throw ToolError(std::string(option) + ": not a number");
}

// Standard input can be read once.
void refuseSecondStandardInput(const FindSettings& s)
{
    int count = int(s.pattern == "-") + int(s.patternMask == "-") + int(s.sceneMask == "-");
    count += int(std::count(s.scenes.begin(), s.scenes.end(), "-"));
    if (count > 1) throw ToolError("-: standard input can be read only once");
}

// The library's own checks, before any image is read.
void validate(const FindSettings& s)
{
    const qsrch_status t = qsrch_trainParams_validate(&s.train);
    if (QSRCH_FAILED(t))
        throw ToolError("--granularity " + granularityText(s.train) +
                        (t == QSRCH_E_GRANULARITY_ORDER ? ": FINE must not exceed COARSE"
                                                        : ": COARSE and FINE must be powers of two")
                        + " (" + qsrch_statusName(t) + ")");
    // The top-level record first, then the one the search will run with.
    qsrch_status v = qsrch_runParams_validate(&s.run);
    if (!QSRCH_FAILED(v)) {
        const qsrch_normcorr_runParams run = searchRunParams(s);
        v = qsrch_normcorr_runParams_validate(&run);
    }
    if (QSRCH_FAILED(v)) throw ToolError(refusalText(v));
}

void applyPending(const Pending& p, FindSettings& s)
{
    if (!p.roi.empty()) s.roi = Rect32{p.roi[0], p.roi[1], p.roi[2], p.roi[3]};
    applyRegionAndWeights(p, s);
    if (!p.granularity.empty()) applyGranularity(p.granularity, s.train);
    s.train.useSurround = p.surround;
    s.extra.absoluteCorrelation = p.absolute;
    s.extra.shapeScoreOptimization = p.shapeScore;
    s.extra.shapeThreshold = static_cast<uint8_t>(p.shapeThreshold);
    s.format = p.json ? Format::Json : p.csv ? Format::Csv : Format::Table;
    if (s.colour && !s.sceneMask.empty()) throw ToolError("--scene-mask: colour search takes no scene mask");
    if (s.train.useSurround && !s.roi)
        throw ToolError("--surround: needs --roi with 2 pixels of the pattern image around it");
    refuseNaN(s);
    refuseSecondStandardInput(s);
    validate(s);
}

}  // namespace

qsrch_normcorr_runParams searchRunParams(const FindSettings& s)
{
    qsrch_normcorr_runParams run;
    check(qsrch_normcorr_runParams_initFromRunParams(&run, &s.run), "run parameters");
    const qsrch_normcorr_runParams& extra = s.extra;
    run.searchRegionXform = extra.searchRegionXform;
    run.searchRegion = extra.searchRegion;
    run.absoluteCorrelation = extra.absoluteCorrelation;
    run.contrastMin = extra.contrastMin;
    run.contrastMax = extra.contrastMax;
    run.brightnessMin = extra.brightnessMin;
    run.brightnessMax = extra.brightnessMax;
    for (int c = 0; c < 3; ++c) run.planeWeights[c] = extra.planeWeights[c];
    run.shapeScoreOptimization = extra.shapeScoreOptimization;
    run.shapeThreshold = extra.shapeThreshold;
    return run;
}

FindSettings defaultFindSettings()
{
    FindSettings s;
    check(qsrch_trainParams_init(&s.train), "training parameters");
    check(qsrch_runParams_init(&s.run), "run parameters");
    // The library merges only results within a pixel of each other, so a
    // user asking for several results may get one match twice, a pixel or
    // two apart. Two results that share more than half of the pattern's
    // area are one match; distinct objects of the pattern's size hardly
    // overlap that much without hiding each other.
    s.run.overlapFraction = kDefaultOverlap;
    check(qsrch_normcorr_runParams_init(&s.extra), "run parameters");
    return s;
}

Command parseCommandLine(int argc, char** argv)
{
    Command command;
    command.find = defaultFindSettings();
#ifdef QSRCH_SAMPLES_DIR
    command.demo.samples = QSRCH_SAMPLES_DIR;
#endif
    Pending pending;
    pending.shapeThreshold = command.find.extra.shapeThreshold;

    CLI::App app("qsrch: find a trained pattern in images by normalized correlation", "qsrch");
    app.set_version_flag("--version", std::to_string(QSRCH_VERSION_MAJOR) + "." +
                                          std::to_string(QSRCH_VERSION_MINOR) + "." +
                                          std::to_string(QSRCH_VERSION_PATCH));
    app.require_subcommand(1);
    app.get_formatter()->column_width(34);
    CLI::App* find = app.add_subcommand("find",
                                        "Find PATTERN in each SCENE; exit 0 when some result is "
                                        "accepted, 1 when none is, 2 on errors");
    addFindOptions(*find, command.find, pending);
    CLI::App* demo =
        app.add_subcommand("demo", "Find the sample part on the sample board and draw the results");
    demo->add_option("--out", command.demo.out, "Folder for the annotated picture")->capture_default_str();
    demo->add_option("--samples", command.demo.samples, "Folder of the sample images")->capture_default_str();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) {
            app.exit(e);
            command.exitStatus = 0;
            return command;
        }
        std::string line = e.what();
        for (char& c : line)
            if (c == '\n') c = ' ';
        std::fprintf(stderr, "qsrch: %s (see qsrch --help)\n", line.c_str());
        command.exitStatus = 2;
        return command;
    }
    if (find->parsed()) {
        applyPending(pending, command.find);
        command.kind = Command::Find;
    } else {
        command.kind = Command::Demo;
    }
    return command;
}

}  // namespace qtool
