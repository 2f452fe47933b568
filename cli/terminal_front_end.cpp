// The terminal front end: report text, messages, the load's progress line and JSON lines.
#include "cli/terminal_front_end.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/json_output.h"
#include "core/identify/identify.h"
#include "core/identify/texts.h"
#include "core/sys/number_reading.h"

namespace chipsight::cli {

void TerminalFrontEnd::clearProgress() {
    if (progress) progress->clear();
}

void TerminalFrontEnd::clearProgressForReport() {
    if (progress && ::isatty(STDOUT_FILENO) != 0) progress->clear();
}

void TerminalFrontEnd::messageBox(const std::string& text, const std::string& caption, unsigned) {
    clearProgress();
    if (json) {
        nlohmann::ordered_json failure;
        const std::size_t last = text.rfind('\n');
        if (!current.empty() && last != std::string::npos &&
            text.compare(last + 1, current.size(), current) == 0) {
            failure["path"] = text.substr(last + 1);
            failure["error"] = text.substr(0, last);
        } else {
            failure["error"] = text;
        }
        failure["caption"] = caption;
        writeJson(failure);
    }
    // A name in the text may hold anything a file or member name can: it is shown under the
    // report's rule, so that it cannot break the line or send the terminal commands.
    std::string line = caption + ": " + text;
    for (char& c : line)
        if (c == '\n') c = ' ';
    std::cout.flush();
    std::cerr << "chipsight-cli: " << reportName(line) << '\n';
    anyMessage = true;
}

void TerminalFrontEnd::recorded(const ImageRecord& r) {
    clearProgressForReport();
    writeJson(toJson(r));
}

void TerminalFrontEnd::boardJudged(const board::Catalogue& catalogue,
                                   std::span<const board::Dump> dumps,
                                   const board::BoardAnswer& answer) {
    if (!json) return;
    clearProgressForReport();
    writeJson({{"board", boardJson(catalogue, dumps, answer)}});
}

void TerminalFrontEnd::setWritten(const std::string& path, const repair::SetPlan& plan) {
    if (!json) return;
    nlohmann::ordered_json left = nlohmann::ordered_json::array();
    for (const repair::SetPlan::Left& chip : plan.left)
        left.push_back({{"name", chip.name}, {"why", chip.why}});
    writeJson({{"set_written",
                {{"path", path},
                 {"chips", plan.members.size()},
                 {"of", plan.chips},
                 {"left", std::move(left)}}}});
}

void TerminalFrontEnd::imagesBurnt(const repair::BurnWritten& burnt) {
    if (!json) return;
    nlohmann::ordered_json images = nlohmann::ordered_json::array(),
                           left = nlohmann::ordered_json::array();
    for (const repair::BurnWritten::Image& image : burnt.images)
        images.push_back({{"path", image.path},
                          {"from", image.from},
                          {"crc", hexDigits(image.crc, 8)},
                          {"sum8", image.sums.sum8},
                          {"sum16", image.sums.sum16},
                          {"sum32", image.sums.sum32}});
    for (const repair::BurnWritten::Left& chip : burnt.left)
        left.push_back({{"name", chip.name}, {"why", chip.why}});
    writeJson({{"burnt", {{"images", std::move(images)}, {"left", std::move(left)}}}});
}

void TerminalFrontEnd::logAppended(std::string_view text) {
    if (json) return;
    clearProgressForReport();
    if (crlf) {
        std::cout << text;
        return;
    }
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    std::cout << out;
}

void TerminalFrontEnd::loadProgress(const std::string& file, std::uint64_t done,
                                    std::uint64_t total) {
    if (::isatty(STDERR_FILENO) == 0) return;
    if (file.empty()) {
        std::cerr << "\r\033[K" << std::flush;
        return;
    }
    char line[96];
    std::snprintf(line, sizeof line, "\r\033[Kchipsight-cli: loading databases, %llu of %llu MB: ",
                  static_cast<unsigned long long>(done >> 20),
                  static_cast<unsigned long long>(total >> 20));
    const std::size_t slash = file.rfind('/');
    std::cerr << line << reportName(file.substr(slash == std::string::npos ? 0 : slash + 1))
              << std::flush;
}

std::string asBoxHolds(FrontEnd& frontEnd, std::string text, std::size_t limit, const char* what,
                       bool checksum) {
    if (text.size() > limit) {
        text.resize(limit);
        frontEnd.messageBox(std::string("a ") + what + " box holds at most " +
                                std::to_string(limit) + " characters; read as " + text,
                            text::kWarning, MB_OK);
    }
    if (!checksum) return text;
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    std::string kept = keptHexDigits(text);
    if (kept != text) frontEnd.messageBox(text::kHexDigitsOnly, text::kWarning, MB_OK);
    return kept;
}

}  // namespace chipsight::cli
