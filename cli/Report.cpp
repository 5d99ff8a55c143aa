// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/Report.h"

#include "core/TextCodec.h"
#include "core/Translate.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <unistd.h>

volatile std::sig_atomic_t g_stopSignal = 0;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

void AppendHex(std::string& out, unsigned char c)
{
    static const char kDigits[] = "0123456789ABCDEF";
    out += "\\x";
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
}

// A state text without its trailing blank, for the readable lines.
std::string_view Trimmed(const char* state)
{
    std::string_view text(state);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return text;
}

const char* OutcomeWord(Outcome outcome, bool undo)
{
    switch (outcome) {
    case Outcome::Renamed: return undo ? "moved_back" : "renamed";
    case Outcome::Unchanged: return "unchanged";
    default: return "failed";
    }
}

// A JSON string of valid UTF-8, escaped as the JSON writer escapes it.
void AppendJsonString(std::string& out, std::string_view text)
{
    static const char kDigits[] = "0123456789abcdef";
    out += '"';
    std::size_t plain = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out.append(text.data() + plain, i - plain);
        plain = i + 1;
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            out += "\\u00";
            out += kDigits[c >> 4];
            out += kDigits[c & 15];
        }
    }
    out.append(text.data() + plain, text.size() - plain);
    out += '"';
}

} // namespace

void SetJsonText(Json& object, const std::string& key, std::string_view bytes)
{
    std::string text(bytes);
    if (!IsValidUtf8(text)) {
        static const char kDigits[] = "0123456789abcdef";
        std::string hex;
        hex.reserve(2 * bytes.size());
        for (const char c : bytes) {
            hex += kDigits[static_cast<unsigned char>(c) >> 4];
            hex += kDigits[c & 15];
        }
        object[key] = std::move(text);   // the writer puts U+FFFD in
        object[key + "_hex"] = std::move(hex);
        return;
    }
    object[key] = std::move(text);
}

void AppendJson(std::string& out, const Json& object)
{
    out += object.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void AppendTsvField(std::string& out, std::string_view field)
{
    for (const char c : field) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
}

void AppendReadable(std::string& out, std::string_view bytes)
{
    // Printable ASCII without a backslash, as most names are, goes as it is.
    const auto plainAscii = [](char c) { return static_cast<unsigned char>(c - 0x20) < 0x5F && c != '\\'; };
    if (std::all_of(bytes.begin(), bytes.end(), plainAscii)) {
        out.append(bytes);
        return;
    }
    // Shown as the window shows it: a name that is not UTF-8 in the code page.
    const bool plain = IsValidUtf8(bytes);
    const std::string decoded = plain ? std::string() : DisplayableUtf8(std::string(bytes));
    const std::string_view text = plain ? bytes : std::string_view(decoded);
    // C0 controls, DEL, C1 controls (U+0080..U+009F, which a terminal may take
    // for DCS or OSC) and the backslash that starts every escape.
    const auto special = [](std::string_view s, std::size_t i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        return c < 0x20 || c == 0x7F || c == '\\'
               || (c == 0xC2 && i + 1 < s.size() && (static_cast<unsigned char>(s[i + 1]) & 0xE0) == 0x80);
    };
    std::size_t i = 0;
    while (i < text.size() && !special(text, i))
        ++i;
    if (i == text.size()) {
        out.append(text);
        return;
    }
    out.append(text.substr(0, i));
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (!special(text, i))
            out += c;
        else if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\\')
            out += "\\\\";
        else if (static_cast<unsigned char>(c) == 0xC2)
            AppendHex(out, static_cast<unsigned char>(text[++i]));
        else
            AppendHex(out, static_cast<unsigned char>(c));
    }
}

CReport::CReport(Format format, bool quiet, bool undo)
    : m_format(format), m_quiet(quiet), m_undo(undo), m_start(Clock::now())
{
    m_showProgress = !quiet && isatty(STDERR_FILENO);
    m_sameTerminal = m_showProgress && isatty(STDOUT_FILENO);
    if (!isatty(STDOUT_FILENO))
        std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
}

CReport::~CReport()
{
    ClearProgress();
}

void CReport::ClearProgress()
{
    if (m_progressShown) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        m_progressShown = false;
    }
}

void CReport::Progress(const char* phase, std::size_t done, std::size_t total)
{
    if (!m_showProgress)
        return;
    const Clock::time_point now = Clock::now();
    if (phase != m_phase) {
        m_phase = phase;
        m_phaseStart = now;
    } else if (now - m_lastDraw < std::chrono::milliseconds(100)) {
        return;   // at most ten times a second
    }
    m_lastDraw = now;
    const double seconds = Seconds(now - m_phaseStart);
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0.0;
    // TRANSLATORS: the progress line; %s is Searching, Renaming, Checking or
    // Undoing. English says "files" for every count.
    const std::string line = total == 0
        ? FormatText(TrN("%s: %zu files found", "%s: %zu files found", done), Tr(phase), done)
        : FormatText(TrN("%s: %zu of %zu files, %.0f files/s", "%s: %zu of %zu files, %.0f files/s", total),
                     Tr(phase), done, total, rate);
    std::fprintf(stderr, "\r%s\033[K", line.c_str());
    std::fflush(stderr);
    m_progressShown = true;
}

void CReport::FileDone(const FileResult& result)
{
    ++m_count[result.outcome == Outcome::Renamed ? 0 : result.outcome == Outcome::Unchanged ? 1 : 2];
    m_line.clear();
    if (m_format == JsonLines && IsValidUtf8(result.path) && IsValidUtf8(result.newName)
        && IsValidUtf8(result.reason)) {
        // Written straight, as the JSON writer writes it: no hex twins needed.
        m_line += "{\"type\":\"file\",\"path\":";
        AppendJsonString(m_line, result.path);
        m_line += ",\"name\":";
        if (result.newName.empty())
            m_line += "null";
        else
            AppendJsonString(m_line, result.newName);
        m_line += ",\"state\":";
        AppendJsonString(m_line, result.state);
        m_line += ",\"outcome\":\"";
        m_line += OutcomeWord(result.outcome, m_undo);
        m_line += "\",\"reason\":";
        if (result.reason.empty())
            m_line += "null";
        else
            AppendJsonString(m_line, result.reason);
        m_line += '}';
    } else if (m_format == JsonLines) {
        Json object;
        object["type"] = "file";
        SetJsonText(object, "path", result.path);
        if (result.newName.empty())
            object["name"] = nullptr;
        else
            SetJsonText(object, "name", result.newName);
        object["state"] = result.state;
        object["outcome"] = OutcomeWord(result.outcome, m_undo);
        if (result.reason.empty())
            object["reason"] = nullptr;
        else
            SetJsonText(object, "reason", result.reason);
        AppendJson(m_line, object);
    } else if (m_format == Tsv) {
        AppendTsvField(m_line, result.state);
        m_line += '\t';
        AppendTsvField(m_line, result.path);
        m_line += '\t';
        AppendTsvField(m_line, result.newName);
        m_line += '\t';
        AppendTsvField(m_line, result.reason);
    } else {
        // The state and reason in the user's language; --tsv and --json
        // keep them in English.
        m_line.append(ShownState(result.state));
        if (!result.reason.empty()) {
            m_line += " (";
            AppendReadable(m_line, ShownReason(result.reason));
            m_line += ')';
        }
        m_line += ": ";
        AppendReadable(m_line, result.path);
        if (!result.newName.empty()) {
            m_line += " -> ";
            AppendReadable(m_line, result.newName);
        }
    }
    m_line += '\n';
    if (m_sameTerminal)
        ClearProgress();
    std::fwrite(m_line.data(), 1, m_line.size(), stdout);
}

std::string_view CReport::ShownState(const char* state)
{
    // A handful of state texts, each looked up once: gettext reads the
    // environment at every look-up.
    for (const auto& known : m_states) {
        if (known.first == state)
            return known.second;
    }
    m_states.emplace_back(state, Trimmed(Tr(state)));
    return m_states.back().second;
}

const std::string& CReport::ShownReason(const std::string& reason)
{
    auto found = m_reasons.find(reason);
    if (found == m_reasons.end())
        found = m_reasons.emplace(reason, TrReason(reason.c_str())).first;
    return found->second;
}

void CReport::FolderUnopened(const std::string& path, int error)
{
    ++m_unopened;
    const std::string shown = DisplayableUtf8(path);
    if (error == ELOOP)
        Error(FormatText(Tr("%s: a link in a folder that others can write to, not followed; its files are left out"),
                         shown.c_str()));
    else
        // TRANSLATORS: a folder the search could not open: its path, then why.
        Error(FormatText(Tr("%s: %s; its files are left out"), shown.c_str(), std::strerror(error)));
}

void CReport::Error(const std::string& message)
{
    ClearProgress();
    std::fflush(stdout);
    std::string line = "mp3tavoly-rename: ";
    AppendReadable(line, message);
    line += '\n';
    std::fputs(line.c_str(), stderr);
}

void CReport::Summary(const std::string& note, bool always, const Json& facts)
{
    ClearProgress();
    const double seconds = Seconds(Clock::now() - m_start);
    if (m_format == JsonLines) {
        // On stdout: a script reads one stream, and -q quiets only stderr.
        Json object;
        object["type"] = "summary";
        object[m_undo ? "moved_back" : "renamed"] = m_count[0];
        object["failed"] = m_count[2];
        object["unchanged"] = m_count[1];
        for (const auto& fact : facts.items())
            object[fact.key()] = fact.value();
        object["stopped"] = g_stopSignal != 0;
        object["seconds"] = std::round(seconds * 1000) / 1000;
        m_line.clear();
        AppendJson(m_line, object);
        m_line += '\n';
        std::fwrite(m_line.data(), 1, m_line.size(), stdout);
    }
    std::fflush(stdout);
    if (m_quiet && g_stopSignal == 0 && !always)
        return;
    // TRANSLATORS: the summary line, "3 renamed, 1 failed, 0 unchanged, 0.02
    // seconds" and its notes; each count has its own text, English says the
    // same for every count.
    const std::string done = m_undo ? FormatText(TrN("%zu moved back", "%zu moved back", m_count[0]), m_count[0])
                                    : FormatText(TrN("%zu renamed", "%zu renamed", m_count[0]), m_count[0]);
    std::fprintf(stderr, "%s, %s, %s, %s%s\n", done.c_str(),
                 FormatText(TrN("%zu failed", "%zu failed", m_count[2]), m_count[2]).c_str(),
                 FormatText(TrN("%zu unchanged", "%zu unchanged", m_count[1]), m_count[1]).c_str(),
                 FormatText(Tr("%.2f seconds"), seconds).c_str(), note.c_str());
}

bool CReport::Flush()
{
    ClearProgress();
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
}
