// JSON and CSV carry every number so that it reads back exactly (the
// shortest text that round-trips); the table rounds for the eye.
#include "output.hpp"

#include <charconv>
#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

namespace qtool {
namespace {

template <class T>
std::string exact(T value)
{
    char text[64];
    const std::to_chars_result r = std::to_chars(text, text + sizeof text, value);
    return std::string(text, r.ptr);
}

std::string csvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

void printTable(std::ostream& out, const std::vector<SceneOutcome>& outcomes)
{
    for (size_t s = 0; s < outcomes.size(); ++s) {
        if (outcomes.size() > 1) out << (s > 0 ? "\n" : "") << "== " << outcomes[s].path << "\n";
        if (outcomes[s].found.empty()) {
            out << "no results\n";
            continue;
        }
        out << "  #          x          y    score  accepted  contrast  brightness\n";
        char row[160];
        for (size_t i = 0; i < outcomes[s].found.size(); ++i) {
            const Found& f = outcomes[s].found[i];
            std::snprintf(row, sizeof row, "%3zu %10.2f %10.2f %8.4f  %-8s %9.3f %11.3f\n", i + 1, f.x, f.y,
                          double(f.score), f.accepted ? "yes" : "no", f.contrast, f.brightness);
            out << row;
        }
    }
}

void printJson(std::ostream& out, const std::vector<SceneOutcome>& outcomes)
{
    nlohmann::ordered_json scenes = nlohmann::ordered_json::array();
    for (const SceneOutcome& outcome : outcomes) {
        nlohmann::ordered_json results = nlohmann::ordered_json::array();
        for (const Found& f : outcome.found)
            results.push_back({{"x", f.x},
                               {"y", f.y},
                               {"score", double(f.score)},
                               {"accepted", f.accepted},
                               {"contrast", f.contrast},
                               {"brightness", f.brightness}});
        scenes.push_back({{"scene", outcome.path}, {"results", std::move(results)}});
    }
    out << scenes.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
}

void printCsv(std::ostream& out, const std::vector<SceneOutcome>& outcomes)
{
    out << "scene,index,x,y,score,accepted,contrast,brightness\n";
    for (const SceneOutcome& outcome : outcomes)
        for (size_t i = 0; i < outcome.found.size(); ++i) {
            const Found& f = outcome.found[i];
            out << csvField(outcome.path) << ',' << i + 1 << ',' << exact(f.x) << ',' << exact(f.y) << ','
                << exact(f.score) << ',' << (f.accepted ? "true" : "false") << ',' << exact(f.contrast) << ','
                << exact(f.brightness) << '\n';
        }
}

}  // namespace

void printResults(std::ostream& out, Format format, const std::vector<SceneOutcome>& outcomes)
{
    switch (format) {
    case Format::Table: printTable(out, outcomes); break;
    case Format::Json: printJson(out, outcomes); break;
    case Format::Csv: printCsv(out, outcomes); break;
    }
}

}  // namespace qtool
