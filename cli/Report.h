// SPDX-License-Identifier: GPL-3.0-or-later
// What mp3tavoly-rename prints: a line per file on stdout (readable,
// tab-separated with escapes, or JSON Lines), a progress line and a summary on
// stderr (with JSON, a summary object on stdout too).
#pragma once

#include "core/RenameBatch.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

// Set by the signal handler: the signal that asked the run to stop, or 0.
extern volatile std::sig_atomic_t g_stopSignal;

// A field of --tsv output: backslash, tab, newline and carriage return
// become \\, \t, \n and \r; every other byte is written as it is.
void AppendTsvField(std::string& out, std::string_view field);

// Bytes for a terminal: a name that is not UTF-8 decoded in the ANSI code
// page, as the window shows it; control characters (C0, DEL and C1) become
// \t, \n, \r or \xNN, and a backslash \\, so every escape reads one way.
void AppendReadable(std::string& out, std::string_view bytes);

using Json = nlohmann::ordered_json;

// Sets key to bytes as a JSON string. Bytes that are not valid UTF-8 get
// U+FFFD for each ill-formed part, and their exact bytes as lowercase hex
// under key + "_hex", so a script can always have the name itself.
void SetJsonText(Json& object, const std::string& key, std::string_view bytes);

// object on one line, without its newline. Throws nothing but bad_alloc: the
// writer replaces what is not UTF-8 instead of throwing.
void AppendJson(std::string& out, const Json& object);

class CReport : public BatchObserver
{
public:
    enum Format { Readable, Tsv, JsonLines };

    // undo: the files are moved back, and JSON says "moved_back".
    CReport(Format format, bool quiet, bool undo = false);
    ~CReport() override;

    bool StopRequested() override { return g_stopSignal != 0; }
    void Progress(const char* phase, std::size_t done, std::size_t total) override;
    void FileDone(const FileResult& result) override;
    void FolderUnopened(const std::string& path, int error) override;

    // An error or a notice on stderr, after clearing the progress line.
    void Error(const std::string& message);
    // The closing line on stderr: what became of the files. Not with -q,
    // unless always (a run stopped early, whose id the user needs). With JSON,
    // first a summary object on stdout, -q or not: the counts, the fields of
    // facts, whether a signal stopped the run, and the seconds taken.
    void Summary(const std::string& note, bool always = false, const Json& facts = Json::object());
    // Ends the output; false when stdout could not be written.
    bool Flush();

    std::size_t Done() const { return m_count[0]; }
    std::size_t Unchanged() const { return m_count[1]; }
    std::size_t Failed() const { return m_count[2]; }
    // Sub-folders left out because they could not be opened.
    std::size_t Unopened() const { return m_unopened; }

private:
    void ClearProgress();
    // A state or a reason as the readable lines show it, in the user's language.
    std::string_view ShownState(const char* state);
    const std::string& ShownReason(const std::string& reason);

    Format m_format;
    bool m_quiet;
    bool m_undo;
    bool m_showProgress;      // stderr is a terminal and -q is not given
    bool m_sameTerminal;      // stdout goes to that terminal too
    bool m_progressShown = false;
    std::size_t m_count[3] = {0, 0, 0};
    std::size_t m_unopened = 0;
    std::string m_line;
    std::vector<std::pair<const char*, std::string_view>> m_states;
    std::unordered_map<std::string, std::string> m_reasons;
    const char* m_phase = nullptr;
    std::chrono::steady_clock::time_point m_start;
    std::chrono::steady_clock::time_point m_phaseStart;
    std::chrono::steady_clock::time_point m_lastDraw;
};
