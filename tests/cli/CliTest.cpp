// SPDX-License-Identifier: GPL-3.0-or-later
// mp3tavoly-rename end to end: the real program on real files, its output
// read back the way a script would read it.
#include "Manifest.h"
#include "RunProgram.h"
#include "Id3v2Bytes.h"
#include "core/TestFiles.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/stat.h>
#include <random>
#include <set>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// The program under test; the unprivileged run points at its own copy.
const std::string kRenameExe =
    getenv("TAVOLY_RENAME_EXE") != nullptr ? getenv("TAVOLY_RENAME_EXE") : RENAME_EXE;

using Result = ProgramResult;

class CliTest : public ::testing::Test
{
protected:
    TempDir dir;     // the files
    TempDir state;   // the journal and the captured output

    Result Run(const std::vector<std::string>& args, const std::string& cwd,
               const std::vector<std::pair<std::string, std::string>>& env = {},
               const std::string& program = kRenameExe) const
    {
        // English texts whatever the desktop's language, unless env says otherwise.
        std::vector<std::pair<std::string, std::string>> all{{"XDG_STATE_HOME", state.Path()},
                                                             {"LANGUAGE", "en"}};
        all.insert(all.end(), env.begin(), env.end());
        return RunProgram(program, args, cwd, all, state / "out", state / "err");
    }

    std::string Mp3(const std::string& name, const std::string& title,
                    const std::string& artist = "") const
    {
        WriteBytes(dir / name, Audio(300 + name.size()) + Record(title, artist));
        return dir / name;
    }

    void Folder(const std::string& name) const { mkdir((dir / name).c_str(), 0755); }

    // Every name under the folder, sub-folders too, with what it holds.
    ::Manifest Manifest() const { return TakeManifest(dir.Path(), true); }

    // The program run with the test shim preloaded and these settings.
    Result RunShimmed(const std::vector<std::string>& args,
                      std::vector<std::pair<std::string, std::string>> env) const
    {
        std::string asan = "verify_asan_link_order=0";
        if (const char* options = std::getenv("ASAN_OPTIONS"))
            asan = std::string(options) + ":" + asan;
        env.emplace_back("LD_PRELOAD", KILL_SHIM);
        env.emplace_back("ASAN_OPTIONS", asan);
        return Run(args, dir.Path(), env);
    }

    // A sanitizer linked into the program takes write() and malloc() before
    // the shim can.
    bool ShimReaches() const
    {
        mkdir((state / "probe").c_str(), 0700);
        WriteBytes(state / "probe/p.mp3", Audio(300) + Record("Probe"));
        return RunShimmed({"-t", state / "probe"}, {{"TAVOLY_KILL_AT", "1"},
                                                    {"XDG_STATE_HOME", state / "probe"}}).status
               == 1000 + SIGKILL;
    }
};

// A sanitizer's allocator is not the C library's: the shim cannot fail it.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kOwnAllocator = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kOwnAllocator = true;
#else
constexpr bool kOwnAllocator = false;
#endif
#else
constexpr bool kOwnAllocator = false;
#endif

bool IsRoot()
{
    return geteuid() == 0 && access("/usr/bin/setpriv", X_OK) == 0;
}

const char* const kAsNobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ";

std::string Unescape(const std::string& field)
{
    std::string text;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\' || i + 1 == field.size()) {
            text += field[i];
            continue;
        }
        const char c = field[++i];
        text += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    }
    return text;
}

// --tsv output as a script reads it: lines at newlines, fields at tabs.
std::vector<std::array<std::string, 4>> ParseTsv(const std::string& out)
{
    std::vector<std::array<std::string, 4>> rows;
    size_t start = 0;
    while (start < out.size()) {
        const size_t end = out.find('\n', start);
        const std::string line = out.substr(start, end - start);
        start = end == std::string::npos ? out.size() : end + 1;
        std::array<std::string, 4> row;
        size_t field = 0, from = 0;
        for (size_t tab; (tab = line.find('\t', from)) != std::string::npos && field < 3; from = tab + 1)
            row[field++] = Unescape(line.substr(from, tab - from));
        EXPECT_EQ(field, 3u) << line;
        row[3] = Unescape(line.substr(from));
        rows.push_back(row);
    }
    return rows;
}

// The --tsv new name of every file, by path.
std::map<std::string, std::string> NewNames(const std::string& out)
{
    std::map<std::string, std::string> names;
    for (const auto& row : ParseTsv(out))
        names[row[1]] = row[0] == "Successful" ? row[2] : row[0];
    return names;
}

TEST_F(CliTest, DryRunPredictsTheRunAndUndoRestoresTheTree)
{
    Folder("m");
    Folder("m/a");
    Folder("m/b");
    Folder("m/.hidden");
    Mp3("m/a/track01.mp3", "Yesterday", "Beatles");
    Mp3("m/a/track02.MP3", "Yesterday", "Beatles");    // the second of the two fails
    Mp3("m/a/Taken.mp3", "Taken");                     // named right already
    Mp3("m/a/t3.mp3", "Taken");                        // that name is taken
    WriteBytes(dir / "m/a/notag.mp3", Audio(400));
    WriteBytes(dir / "m/a/short.mp3", Audio(100));
    Mp3("m/b/caf\xE9.mp3", "Caf\xE9 au lait");         // Latin-1 name and title
    Mp3("m/b/\xC3\xBC.mp3", "\xC3\x9C" "ber");            // UTF-8
    Mp3("m/b/One.mp3", "Two");                         // which of these two gets its
    Mp3("m/b/Two.mp3", "Three");                       // name depends on their order
    const std::string odd = "m/b/tab\there\nnewline\\.mp3";
    Mp3(odd, "Odd");
    Mp3("m/b/c1\x9D" "esc\\t.mp3", "Controls");   // under 1252 a C1 control, and a literal \t
    Mp3("m/.hidden/h.mp3", "Hidden");
    WriteBytes(dir / "m/b/notes.txt", "x");
    ASSERT_EQ(symlink("..", (dir / "m/b/loop").c_str()), 0);
    const auto before = Manifest();

    const Result trial = Run({"-t", "-n", "--tsv", "m"}, dir.Path());
    EXPECT_EQ(trial.status, 1);   // some files failed
    EXPECT_EQ(Manifest(), before);
    const Result run = Run({"-t", "--tsv", "m"}, dir.Path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, trial.out);
    EXPECT_NE(Manifest(), before);

    // One line per MP3 file, none from the hidden folder or through the loop.
    const auto rows = ParseTsv(run.out);
    std::map<std::string, std::array<std::string, 4>> byPath;
    for (const auto& row : rows) {
        EXPECT_EQ(before.count(row[1]), 1u) << row[1];
        byPath[row[1]] = row;
    }
    EXPECT_EQ(rows.size(), 12u);
    EXPECT_EQ(byPath.size(), 12u);
    EXPECT_EQ(byPath["m/a/notag.mp3"][0], "Failed, Song name not found! ");
    EXPECT_EQ(byPath["m/a/short.mp3"][0], "Failed, File unwritable! ");
    EXPECT_EQ(byPath["m/a/Taken.mp3"][0], "Successful");
    EXPECT_EQ(byPath["m/a/t3.mp3"], (std::array<std::string, 4>{
        "Failed, Unable to rename the file automatically! ", "m/a/t3.mp3", "Taken.mp3", "File exists"}));
    EXPECT_EQ(byPath["m/a/Taken.mp3"][3], "");
    EXPECT_NE(byPath["m/a/track01.mp3"][0], byPath["m/a/track02.MP3"][0]);
    EXPECT_EQ(byPath[odd][0], "Successful");
    EXPECT_EQ(byPath[odd][2], "Odd.mp3");
    EXPECT_TRUE(Exists(dir / "m/b/Odd.mp3"));
    EXPECT_TRUE(Exists(dir / "m/a/Yesterday.mp3"));

    // The readable form shows names as the window does, control bytes escaped.
    const Result shown = Run({"--undo", "-n"}, dir.Path(), {{"LC_ALL", "en_US.UTF-8"}});
    EXPECT_NE(shown.out.find("-> caf\xC3\xA9.mp3\n"), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("-> tab\\there\\nnewline\\\\.mp3\n"), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("-> c1\\x9Desc\\\\t.mp3\n"), std::string::npos) << shown.out;
    const Result reasons = Run({"-t", "-n", "m/a"}, dir.Path());
    EXPECT_NE(reasons.out.find("automatically! (File exists): m/a/"), std::string::npos) << reasons.out;

    // Undone from elsewhere: the journal holds whole paths.
    const Result trialUndo = Run({"--undo", "-n", "--tsv"}, "/");
    EXPECT_EQ(trialUndo.status, 0);
    const Result undo = Run({"--undo", "--tsv"}, "/");
    EXPECT_EQ(undo.status, 0) << undo.err;
    EXPECT_EQ(undo.out, trialUndo.out);
    EXPECT_EQ(Manifest(), before);
    EXPECT_EQ(Run({"--undo"}, "/").status, 2);   // not twice
    const Result runs = Run({"--runs", "--tsv"}, "/");
    EXPECT_EQ(runs.out.substr(0, 2), "1\t");
    EXPECT_NE(runs.out.find("\tundone\t0\tcommand\n"), std::string::npos) << runs.out;
}

// --json output as a script reads it: one object a line.
std::vector<nlohmann::json> ParseJsonLines(const std::string& out)
{
    std::vector<nlohmann::json> objects;
    size_t start = 0;
    while (start < out.size()) {
        const size_t end = out.find('\n', start);
        objects.push_back(nlohmann::json::parse(out.substr(start, end - start), nullptr, false));
        EXPECT_TRUE(objects.back().is_object()) << out;
        start = end == std::string::npos ? out.size() : end + 1;
    }
    return objects;
}

// A text field's exact bytes: from its hex twin when it has one.
std::string Bytes(const nlohmann::json& object, const std::string& key)
{
    const auto hex = object.find(key + "_hex");
    if (hex == object.end())
        return object.value(key, std::string());
    const std::string digits = hex->get<std::string>();
    std::string bytes;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        bytes += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
    return bytes;
}

TEST_F(CliTest, JsonGivesScriptsEveryNameExactlyAndTheDryRunPredictsTheRun)
{
    Folder("m");
    Mp3("m/caf\xE9.mp3", "Cafe");               // not UTF-8
    Mp3("m/tab\there\"q\\.mp3", "Odd");         // JSON escapes
    Mp3("m/Taken.mp3", "Taken");
    Mp3("m/t2.mp3", "Taken");
    WriteBytes(dir / "m/notag.mp3", Audio(400));
    const auto before = Manifest();

    const Result trial = Run({"-t", "-n", "--json", "m"}, dir.Path());
    const Result run = Run({"-t", "-q", "--json", "m"}, dir.Path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "");   // -q quiets stderr; the summary object stays
    auto files = ParseJsonLines(run.out);
    auto predicted = ParseJsonLines(trial.out);
    ASSERT_EQ(files.size(), 6u);
    ASSERT_EQ(predicted.size(), 6u);
    const nlohmann::json summary = files.back(), trialSummary = predicted.back();
    files.pop_back();
    predicted.pop_back();
    EXPECT_EQ(files, predicted);
    for (const auto& [object, dry] : {std::pair{summary, false}, std::pair{trialSummary, true}}) {
        EXPECT_EQ(object["type"], "summary");
        EXPECT_EQ(object["renamed"], 2);
        EXPECT_EQ(object["failed"], 2);
        EXPECT_EQ(object["unchanged"], 1);
        EXPECT_EQ(object["dry_run"], dry);
    }
    EXPECT_EQ(summary["run"], "1");
    EXPECT_EQ(trialSummary["run"], nullptr);

    std::map<std::string, nlohmann::json> byPath;
    for (const auto& file : files) {
        EXPECT_EQ(file["type"], "file");
        EXPECT_EQ(before.count(Bytes(file, "path")), 1u) << file;
        byPath[Bytes(file, "path")] = file;
    }
    EXPECT_EQ(byPath["m/caf\xE9.mp3"]["path"], "m/caf\xEF\xBF\xBD.mp3");   // U+FFFD
    EXPECT_EQ(byPath["m/caf\xE9.mp3"]["outcome"], "renamed");
    EXPECT_EQ(byPath["m/Taken.mp3"]["outcome"], "unchanged");
    EXPECT_EQ(byPath["m/t2.mp3"]["reason"], "File exists");
    EXPECT_EQ(byPath["m/notag.mp3"]["name"], nullptr);
    EXPECT_EQ(byPath["m/notag.mp3"]["state"], "Failed, Song name not found! ");
    EXPECT_TRUE(Exists(dir / "m/Cafe.mp3"));

    // An undo gives the old names back, and a script gets their bytes.
    const Result trialUndo = Run({"--undo", "-n", "--json"}, dir.Path());
    const Result undo = Run({"--undo", "--json"}, dir.Path());
    EXPECT_EQ(undo.status, 0);
    auto back = ParseJsonLines(undo.out);
    auto predictedBack = ParseJsonLines(trialUndo.out);
    ASSERT_EQ(back.size(), 3u);
    ASSERT_EQ(predictedBack.size(), 3u);
    EXPECT_EQ(back.back()["moved_back"], 2);
    EXPECT_EQ(back.back()["left"], 0);
    back.pop_back();
    predictedBack.pop_back();
    EXPECT_EQ(back, predictedBack);
    std::set<std::string> names;
    for (const auto& file : back)
        names.insert(Bytes(file, "name"));
    EXPECT_EQ(names, (std::set<std::string>{"caf\xE9.mp3", "tab\there\"q\\.mp3"}));
    EXPECT_EQ(Manifest(), before);

    const auto runs = ParseJsonLines(Run({"--runs", "--json"}, dir.Path()).out);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0]["id"], "1");
    EXPECT_EQ(runs[0]["files"], 2);
    EXPECT_EQ(runs[0]["state"], "undone");
    EXPECT_EQ(runs[0]["damaged"], 0);
    EXPECT_EQ(runs[0]["program"], "command");
    EXPECT_EQ(names.count(Bytes(runs[0], "first_path").substr(dir.Path().size() + 3)), 1u) << runs[0];
    EXPECT_EQ(Run({"--json", "--tsv", "m"}, dir.Path()).status, 2);
}

TEST_F(CliTest, RunsStoppedAtAnyPointAreUndoneCompletely)
{
    Folder("m");
    Folder("m/x");
    Folder("m/y");
    for (int i = 0; i < 24; ++i) {
        // Every sixth title repeats the one before: some moves fail.
        const int song = i % 6 == 5 ? i - 1 : i;
        Mp3(std::string(i < 12 ? "m/x/" : "m/y/") + "t" + std::to_string(i) + ".mp3",
            "Song " + std::to_string(song), "Band");
    }
    const auto before = Manifest();
    std::string asan = "verify_asan_link_order=0";
    if (const char* options = std::getenv("ASAN_OPTIONS"))
        asan = std::string(options) + ":" + asan;
    const auto runStopped = [&](const std::string& at, const std::string& when, const char* signal) {
        return Run({"-a", "m"}, dir.Path(),
                   {{"LD_PRELOAD", KILL_SHIM}, {"TAVOLY_KILL_AT", at}, {"TAVOLY_KILL_WHEN", when},
                    {"TAVOLY_KILL_SIGNAL", signal}, {"ASAN_OPTIONS", asan}});
    };
    if (!ShimReaches())
        GTEST_SKIP() << "the preloaded shim does not reach this build's write()";

    std::mt19937 random(13);
    for (int round = 0; round < 16; ++round) {
        // The header, the one batch of records, 24 moves, the failure marks.
        const std::string at = std::to_string(1 + random() % 27);
        const std::string when = random() % 2 ? "after" : "before";
        const bool interrupt = round % 4 == 3;
        SCOPED_TRACE("at " + at + " " + when + (interrupt ? " INT" : " KILL"));
        const Result run = runStopped(at, when, interrupt ? "INT" : "KILL");
        if (interrupt) {
            EXPECT_EQ(run.status, 130);
            EXPECT_NE(run.err.find("stopped by a signal"), std::string::npos) << run.err;
        } else {
            EXPECT_EQ(run.status, 1000 + SIGKILL);
        }
        const Result undo = Run({"--undo"}, "/");
        // Stopped before its first move, the run left no journal: nothing to undo.
        if (undo.status != 2 || Manifest() != before) {
            EXPECT_EQ(undo.status, 0) << undo.err;
            EXPECT_NE(undo.err.find(", 0 failed,"), std::string::npos) << undo.err;
        }
        ASSERT_EQ(Manifest(), before);
    }
}

TEST_F(CliTest, AKillBetweenABatchsRecordsAndItsMovesIsUndoneCompletely)
{
    Folder("m");
    for (int i = 0; i < 300; ++i)
        Mp3("m/t" + std::to_string(i) + ".mp3", "Song " + std::to_string(i % 290));   // ten clash
    const auto before = Manifest();
    if (!ShimReaches())
        GTEST_SKIP() << "the preloaded shim does not reach this build's write()";
    // Counted: the header, the first batch's records, its 256 moves, the
    // second batch's records (259), then its moves.
    for (const auto& [at, when] : std::vector<std::pair<std::string, std::string>>{
             {"259", "before"}, {"259", "after"}, {"280", "after"}}) {
        SCOPED_TRACE("at " + at + " " + when);
        const Result run = RunShimmed({"-t", "m"}, {{"TAVOLY_KILL_AT", at}, {"TAVOLY_KILL_WHEN", when}});
        EXPECT_EQ(run.status, 1000 + SIGKILL);
        const Result undo = Run({"--undo"}, dir.Path());
        EXPECT_EQ(undo.status, 0) << undo.err;
        ASSERT_EQ(Manifest(), before);
    }
}

TEST_F(CliTest, DepthLimitsTheSearchAndTheDryRunStillPredictsTheRun)
{
    Folder("a");
    Folder("a/b");
    Folder("a/b/c");
    Mp3("a/x.mp3", "X");
    Mp3("a/b/y.mp3", "Y");
    Mp3("a/b/c/z.mp3", "Z");
    EXPECT_EQ(ParseTsv(Run({"-t", "-n", "--tsv", "--no-recurse", "a"}, dir.Path()).out).size(), 1u);
    const Result trial = Run({"-t", "-n", "--tsv", "--max-depth", "1", "a"}, dir.Path());
    const Result real = Run({"-t", "--tsv", "--max-depth=1", "a"}, dir.Path());
    EXPECT_EQ(real.status, 0);
    EXPECT_EQ(trial.out, real.out);
    EXPECT_EQ(ParseTsv(real.out).size(), 2u);
    EXPECT_EQ(access((dir / "a/b/c/z.mp3").c_str(), F_OK), 0);
    EXPECT_EQ(Run({"--max-depth", "-1", "a"}, dir.Path()).status, 2);
}

TEST_F(CliTest, Id3v2TitlesOfEveryVersionAndEncodingAndTheChoiceOfTag)
{
    Folder("m");
    // 2.2, Latin-1 (which no locale's code page changes), no ID3v1 tag.
    WriteBytes(dir / "m/v22.mp3", Id3v2(2, Frame(2, "TT2", Latin1("Caf\xE9 del Mar")) + Frame(2, "TP1", Latin1("Jos\xE9")))
                                      + Audio(300));
    // 2.3 in UTF-16 with a byte-order mark (0xFF), unsynchronised as a whole,
    // extended header included; its ID3v1 title cut at 30 bytes.
    WriteBytes(dir / "m/v23.mp3",
               Id3v2(3, Unsynchronised(std::string("\0\0\0\x06\0\0\0\0\0\0", 10)
                                       + Frame(3, "TIT2", Utf16(u"Wish You Were Here (Remastered 2011) \u2014 \u041F\u0440\u0438\u0432\u0435\u0442"))
                                       + Frame(3, "TPE1", Utf16(u"Pink Floyd")) + std::string(200, '\0')),
                     '\xC0')
                   + Audio(300) + Record("Wish You Were Here (Remastered 2011)", "Pink Floyd"));
    // 2.4 with an extended header (a CRC in it); UTF-8 title; the artist's
    // frame, short and last, in UTF-16 holding 0xFF bytes, unsynchronised.
    WriteBytes(dir / "m/v24.mp3",
               Id3v2(4, std::string("\0\0\0\x0C\x01\x20\x05\x01\x02\x03\x04\x05", 12)
                            + Frame(4, "TIT2", "\x03\xE6\xAE\x8B\xE9\x85\xB7\xE3\x81\xAA\xE5\xA4\xA9\xE4\xBD\xBF (Director's Cut)")
                            + Frame(4, "TPE1", Unsynchronised(Utf16(u"\u0178\u00FF")), '\x02'),
                     '\xC0')
                   + Audio(300));
    // A size byte of 0x80 or more: no ID3v2 tag.
    WriteBytes(dir / "m/broken.mp3", std::string("ID3\x03\0\0\0\0\x80\x10", 10) + Frame(3, "TIT2", Latin1("Not this")) + Audio(300)
                                         + Record("From ID3v1"));
    // Longer than a file name may be: cut on a character boundary.
    WriteBytes(dir / "m/long.mp3", Id3v2(3, Frame(3, "TIT2", Latin1(std::string(300, '\xE9')))) + Audio(300)
                                       + Record("Short"));
    const auto before = Manifest();

    std::string e250;
    for (int i = 0; i < 125; ++i)
        e250 += "\xC3\xA9";
    const std::string v23 = "Pink Floyd - Wish You Were Here Remastered 2011 \xE2\x80\x94 \xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82.mp3";
    const std::string v24 = "\xC5\xB8\xC3\xBF - \xE6\xAE\x8B\xE9\x85\xB7\xE3\x81\xAA\xE5\xA4\xA9\xE4\xBD\xBF Directors Cut.mp3";
    const std::string notFound = "Failed, Song name not found! ";
    const std::map<std::string, std::map<std::string, std::string>> expected{
        {"v1", {{"m/v22.mp3", notFound}, {"m/v23.mp3", "Pink Floyd - Wish You Were Here Remastered.mp3"},
                {"m/v24.mp3", notFound}, {"m/broken.mp3", "From ID3v1.mp3"}, {"m/long.mp3", "Short.mp3"}}},
        {"v2", {{"m/v22.mp3", "Jos\xC3\xA9 - Caf\xC3\xA9 del Mar.mp3"}, {"m/v23.mp3", v23}, {"m/v24.mp3", v24},
                {"m/broken.mp3", notFound}, {"m/long.mp3", e250 + ".mp3"}}},
        {"any", {{"m/v22.mp3", "Jos\xC3\xA9 - Caf\xC3\xA9 del Mar.mp3"}, {"m/v23.mp3", v23}, {"m/v24.mp3", v24},
                 {"m/broken.mp3", "From ID3v1.mp3"}, {"m/long.mp3", e250 + ".mp3"}}},
    };
    const std::vector<std::pair<std::string, std::string>> cyrillic{{"LC_ALL", "ru_RU.UTF-8"}};
    for (const auto& [tag, names] : expected) {
        SCOPED_TRACE(tag);
        const Result trial = Run({"--tag", tag, "-a", "-n", "--tsv", "m"}, dir.Path(), cyrillic);
        const Result run = Run({"--tag=" + tag, "-a", "--tsv", "m"}, dir.Path(), cyrillic);
        EXPECT_EQ(run.status, tag == "any" ? 0 : 1);   // v1 and v2 miss a tag
        EXPECT_EQ(trial.out, run.out);
        EXPECT_EQ(NewNames(run.out), names);
        EXPECT_EQ(Run({"--undo", "-q"}, dir.Path()).status, 0);
        EXPECT_EQ(Manifest(), before);
    }
    // --tag v1 is the rule without it.
    EXPECT_EQ(Run({"--tag", "v1", "-t", "-n", "--tsv", "m"}, dir.Path()).out,
              Run({"-t", "-n", "--tsv", "m"}, dir.Path()).out);
    for (const auto& bad : std::vector<std::vector<std::string>>{
             {"--tag", "v3", "m"}, {"--tag"}, {"--undo", "--tag", "v2"}})
        EXPECT_EQ(Run(bad, dir.Path()).status, 2);
}

TEST_F(CliTest, Id3v2FieldsAmongOtherFramesOfAnySize)
{
    Folder("m");
    const std::string picture = Frame(3, "APIC", std::string(6000, '\x01'));   // past the first read
    WriteBytes(dir / "m/cover.mp3", Id3v2(3, Frame(3, "PRIV", "x") + picture + Frame(3, "TDAT", Latin1("0203"))
                                                 + Frame(3, "TIT2", Latin1("After Art")) + Frame(3, "TYER", Latin1("2001"))
                                                 + Frame(3, "TPE1", Latin1("Band")) + std::string(100, '\0'))
                                        + Audio(300));
    // 2.4: a long frame with its size as 2.4 writes it, then one with the
    // size as 2.3 writes it (as iTunes did), which TagLib still follows.
    const std::string comment(300, 'c');
    std::string plainSize = Frame(4, "COMM", comment);
    plainSize.replace(4, 4, std::string{'\0', '\0', '\x01', '\x2C'});
    WriteBytes(dir / "m/v24.mp3", Id3v2(4, Frame(4, "COMM", comment) + Frame(4, "TIT2", "\x03" + std::string(150, 't'))
                                               + Frame(4, "TPE1", "\x03" "Band"))
                                      + Audio(301));
    WriteBytes(dir / "m/itunes.mp3", Id3v2(4, plainSize + Frame(4, "TIT2", "\x03Sized Plainly") + Frame(4, "TYER", "\x03" "1999"))
                                         + Audio(302));
    // Zero bytes: padding after a title, or between two values (the first counts).
    WriteBytes(dir / "m/zeros.mp3", Id3v2(3, Frame(3, "TIT2", Latin1(std::string("Padded\0\0", 8)))
                                                 + Frame(3, "TPE1", Latin1(std::string("One\0Two", 7))))
                                        + Audio(303));
    // The first of two title frames counts, even empty.
    WriteBytes(dir / "m/two.mp3", Id3v2(3, Frame(3, "TIT2", Latin1("")) + Frame(3, "TIT2", Latin1("Second")))
                                      + Audio(304) + Record("From ID3v1"));
    const Result run = Run({"--tag", "v2", "-n", "--tsv", "-f", "[%y ][%a - ]%t", "m"}, dir.Path());
    EXPECT_EQ(NewNames(run.out), (std::map<std::string, std::string>{
        {"m/cover.mp3", "2001 Band - After Art.mp3"},
        {"m/v24.mp3", "Band - " + std::string(150, 't') + ".mp3"},
        {"m/itunes.mp3", "1999 Sized Plainly.mp3"},   // TYER, though 2.4
        {"m/zeros.mp3", "One - Padded.mp3"},
        {"m/two.mp3", "Failed, Song name not found! "}}));
    EXPECT_EQ(NewNames(Run({"--tag", "any", "-n", "--tsv", "-a", "m"}, dir.Path()).out),
              (std::map<std::string, std::string>{{"m/cover.mp3", "Band - After Art.mp3"},
                                                  {"m/v24.mp3", "Band - " + std::string(150, 't') + ".mp3"},
                                                  {"m/itunes.mp3", "Sized Plainly.mp3"},
                                                  {"m/zeros.mp3", "One - Padded.mp3"},
                                                  {"m/two.mp3", "From ID3v1.mp3"}}));
}

TEST_F(CliTest, TemplatesLeaveOutBracketsWithAnEmptyFieldAndNeverLeaveTheFolder)
{
    Folder("m");
    // ID3v1.1: track 7 in the comment's last byte; genre 14 "R&B".
    std::string full = Record("Hey (Jude)", "Beatles", "", 14);
    full[125] = '\0';
    full[126] = '\x07';
    WriteBytes(dir / "m/full.mp3", Audio(300) + full);
    WriteBytes(dir / "m/bare.mp3", Audio(301) + Record("Alone", "    "));   // an artist of blanks; no track or genre
    // ID3v2.3: track "3/12", genre "(17)", the year in TYER.
    WriteBytes(dir / "m/v2.mp3", Id3v2(3, Frame(3, "TIT2", Latin1("Time")) + Frame(3, "TPE1", Latin1("Pink Floyd"))
                                               + Frame(3, "TALB", Latin1("Dark Side")) + Frame(3, "TRCK", Latin1("3/12"))
                                               + Frame(3, "TCON", Latin1("(17)")) + Frame(3, "TYER", Latin1("1973")))
                                     + Audio(303));
    const auto before = Manifest();
    for (const auto& bad : std::vector<std::vector<std::string>>{
             {"-f", "%a/%t", "m"}, {"-f", "%t %x", "m"}, {"-f", "[%a [%t]]", "m"}, {"-f", "%t]", "m"},
             {"-f", "", "m"}, {"-a", "-f", "%t", "m"}, {"--undo", "-f", "%t"}})
        EXPECT_EQ(Run(bad, dir.Path()).status, 2);
    EXPECT_EQ(Manifest(), before);

    const std::string format = "%n%% [%a - ]%t [(%l, %y)] %g";
    const Result trial = Run({"--tag", "any", "-n", "--tsv", "-f", format, "m"}, dir.Path());
    const Result run = Run({"--tag", "any", "--tsv", "--format=" + format, "m"}, dir.Path());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(trial.out, run.out);
    EXPECT_EQ(NewNames(run.out), (std::map<std::string, std::string>{
        {"m/full.mp3", "07% Beatles - Hey Jude (Album, 1999) RB.mp3"},
        {"m/bare.mp3", "% Alone (Album, 1999).mp3"},   // empty fields outside brackets: nothing
        {"m/v2.mp3", "03% Pink Floyd - Time (Dark Side, 1973) Rock.mp3"}}));
    EXPECT_EQ(Run({"--undo", "-q"}, dir.Path()).status, 0);
    EXPECT_EQ(Manifest(), before);

    // Nothing but blanks is no name.
    const Result blank = Run({"--tsv", "-nf", "[%a] [%n]", "m/bare.mp3"}, dir.Path());
    EXPECT_EQ(blank.status, 1);
    EXPECT_EQ(NewNames(blank.out), (std::map<std::string, std::string>{{"m/bare.mp3", "Failed, Song name not found! "}}));
}

TEST_F(CliTest, BlanksAreNoPartOfANameAndATitleOfBlanksIsNone)
{
    Folder("m");
    const std::string spaces = "\xC2\xA0\xE2\x80\x83\xE3\x80\x80";   // U+00A0, U+2003, U+3000
    // Blanks only in ID3v1 (the window's rule) and in ID3v2, in three
    // encodings; --tag any then takes the ID3v1 title.
    WriteBytes(dir / "m/v1.mp3", Audio(300) + Record(std::string(30, ' '), "Artist"));
    WriteBytes(dir / "m/v2.mp3", Id3v2(3, Frame(3, "TIT2", Latin1("   ")) + Frame(3, "TPE1", Latin1("Band")))
                                     + Audio(301) + Record("From ID3v1"));
    WriteBytes(dir / "m/utf16.mp3", Id3v2(3, Frame(3, "TIT2", Utf16(u"\u00A0\u3000 \u2009"))) + Audio(302)
                                        + Record("Also ID3v1"));
    WriteBytes(dir / "m/utf8.mp3", Id3v2(4, Frame(4, "TIT2", "\x03" + spaces)) + Audio(303));
    // Padded at both ends, inside only one blank each.
    WriteBytes(dir / "m/padded.mp3", Id3v2(4, Frame(4, "TIT2", "\x03  Padded  Title" + spaces)
                                                  + Frame(4, "TPE1", "\x03" + spaces + "Padded Artist ")
                                                  + Frame(4, "TRCK", "\x03" "7"))
                                         + Audio(304));
    // Longer than a name may be: the cut falls between an e and its accent.
    std::string accents;
    for (int i = 0; i < 100; ++i)
        accents += "e\xCC\x81";
    WriteBytes(dir / "m/accents.mp3", Id3v2(4, Frame(4, "TIT2", "\x03" + accents)) + Audio(305));
    const auto before = Manifest();

    const std::string notFound = "Failed, Song name not found! ";
    const std::string kept = accents.substr(0, 249);   // 83 whole letters
    const struct { std::vector<std::string> args; std::map<std::string, std::string> names; } cases[] = {
        {{"-a"}, {{"m/v1.mp3", notFound}, {"m/v2.mp3", "From ID3v1.mp3"}, {"m/utf16.mp3", "Also ID3v1.mp3"},
                  {"m/utf8.mp3", notFound}, {"m/padded.mp3", notFound}, {"m/accents.mp3", notFound}}},
        {{"--tag", "v2", "-a"}, {{"m/v1.mp3", notFound}, {"m/v2.mp3", notFound}, {"m/utf16.mp3", notFound},
                                 {"m/utf8.mp3", notFound}, {"m/padded.mp3", "Padded Artist - Padded Title.mp3"},
                                 {"m/accents.mp3", kept + ".mp3"}}},
        {{"--tag", "any", "-a"}, {{"m/v1.mp3", notFound}, {"m/v2.mp3", "From ID3v1.mp3"},
                                  {"m/utf16.mp3", "Also ID3v1.mp3"}, {"m/utf8.mp3", notFound},
                                  {"m/padded.mp3", "Padded Artist - Padded Title.mp3"},
                                  {"m/accents.mp3", kept + ".mp3"}}},
        // Templates: no blank at either end, and a name of separators is none.
        {{"--tag", "v2", "-f", "[%n ]%t[ (%a)]"}, {{"m/v1.mp3", notFound}, {"m/v2.mp3", "(Band).mp3"},
                                                   {"m/utf16.mp3", notFound}, {"m/utf8.mp3", notFound},
                                                   {"m/padded.mp3", "07 Padded Title (Padded Artist).mp3"},
                                                   {"m/accents.mp3", kept + ".mp3"}}},
        {{"--tag", "v1", "-f", " [%a] - [%t] "}, {{"m/v1.mp3", "Artist -.mp3"}, {"m/v2.mp3", "- From ID3v1.mp3"},
                                                  {"m/utf16.mp3", "- Also ID3v1.mp3"}, {"m/utf8.mp3", notFound},
                                                  {"m/padded.mp3", notFound}, {"m/accents.mp3", notFound}}},
        {{"--tag", "v2", "-f", "[%a] - [%t]"}, {{"m/v1.mp3", notFound}, {"m/v2.mp3", "Band -.mp3"},
                                                {"m/utf16.mp3", notFound}, {"m/utf8.mp3", notFound},
                                                {"m/padded.mp3", "Padded Artist - Padded Title.mp3"},
                                                {"m/accents.mp3", "- " + kept + ".mp3"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[c.args.size() - 1]);
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-n", "--tsv", "m"});
        EXPECT_EQ(NewNames(Run(args, dir.Path()).out), c.names);
    }
    EXPECT_EQ(Manifest(), before);
}

TEST_F(CliTest, ExitStatuses)
{
    Folder("m");
    Mp3("m/a.mp3", "Song A", "Band");
    Mp3("m/b.mp3", "Song B", "Band");
    WriteBytes(dir / "notes.txt", "x");
    EXPECT_EQ(Run({"-t", "m/a.mp3", "m/a.mp3"}, dir.Path()).status, 0);   // named twice, renamed once
    EXPECT_TRUE(Exists(dir / "m/Song A.mp3"));
    Folder("other");
    Mp3("other/o.mp3", "Song O");
    ASSERT_EQ(symlink("../other", (dir / "m/link").c_str()), 0);   // the user's own link: followed
    EXPECT_EQ(Run({"-t", "m"}, dir.Path()).status, 0);   // renamed, or already named right
    EXPECT_TRUE(Exists(dir / "m/Song B.mp3"));
    EXPECT_TRUE(Exists(dir / "other/Song O.mp3"));

    Mp3("m/c.mp3", "Song C");
    const Result missing = Run({"-t", "nowhere", "notes.txt", "m/c.mp3"}, dir.Path());
    EXPECT_EQ(missing.status, 2);   // reported, and the rest still renamed
    EXPECT_NE(missing.err.find("nowhere: No such file or directory"), std::string::npos);
    EXPECT_TRUE(Exists(dir / "m/Song C.mp3"));

    // No journal, no rename.
    Mp3("m/d.mp3", "Song D");
    const Result noJournal = Run({"-t", "m/d.mp3"}, dir.Path(), {{"XDG_STATE_HOME", dir / "notes.txt"}});
    EXPECT_EQ(noJournal.status, 1);
    EXPECT_NE(noJournal.err.find("cannot write the journal"), std::string::npos) << noJournal.err;
    EXPECT_TRUE(Exists(dir / "m/d.mp3"));

    for (const auto& bad : std::vector<std::vector<std::string>>{
             {}, {"-x", "m"}, {"--bogus", "m"}, {"-a", "-t", "m"}, {"--undo", "1", "2"},
             {"--undo", "99"}, {"--undo", ""}, {"--runs", "m"}})
        EXPECT_EQ(Run(bad, dir.Path()).status, 2);
    const Result help = Run({"--help"}, dir.Path());
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: mp3tavoly-rename", 0), 0u);
    EXPECT_EQ(Run({"--version"}, dir.Path()).out.rfind("mp3tavoly-rename ", 0), 0u);
}

TEST_F(CliTest, AClosedStdoutNeverWritesIntoTheJournal)
{
    Folder("m");
    const std::string longName(200, 'x');   // lines enough to fill the output buffer
    for (int i = 0; i < 400; ++i)
        Mp3("m/" + std::to_string(i) + longName + ".mp3", "Song " + std::to_string(i));
    const auto before = Manifest();
    const Result run = Run({"-c", "exec \"$0\" -t m >&-", kRenameExe}, dir.Path(), {}, "/bin/sh");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("cannot write the output"), std::string::npos) << run.err;
    const Result undo = Run({"--undo", "-q"}, dir.Path());
    EXPECT_EQ(undo.status, 0) << undo.err;
    EXPECT_EQ(Manifest(), before);
}

TEST_F(CliTest, AFolderThatCannotBeOpenedIsReported)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root opens any folder";
    Folder("m");
    Folder("m/closed");
    Mp3("m/closed/a.mp3", "Song A");
    Mp3("m/b.mp3", "Song B");
    ASSERT_EQ(chmod((dir / "m/closed").c_str(), 0), 0);
    const Result named = Run({"-t", "m/closed"}, dir.Path());
    const Result inside = Run({"-t", "m"}, dir.Path());
    chmod((dir / "m/closed").c_str(), 0755);
    EXPECT_EQ(named.status, 2);   // not an empty folder renamed with success
    EXPECT_NE(named.err.find("m/closed: Permission denied"), std::string::npos) << named.err;
    EXPECT_EQ(inside.status, 1);   // the others renamed, the left-out files told
    EXPECT_NE(inside.err.find("m/closed: Permission denied"), std::string::npos) << inside.err;
    EXPECT_TRUE(Exists(dir / "m/Song B.mp3"));
}

TEST_F(CliTest, DryRunKnowsWhoMayRenameInASharedFolder)
{
    if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0)
        GTEST_SKIP() << "needs root and setpriv to run as another user";
    chmod(dir.Path().c_str(), 0755);
    chmod(state.Path().c_str(), 0777);
    Folder("shared");
    chmod((dir / "shared").c_str(), 01777);   // like /tmp: others' files stay put
    Mp3("shared/theirs.mp3", "Theirs");
    ASSERT_EQ(chown(Mp3("shared/mine.mp3", "Mine").c_str(), 65534, 65534), 0);
    const auto asNobody = [&](const std::string& option) {
        return Run({"--reuid=65534", "--regid=65534", "--clear-groups", kRenameExe, "-t", "--tsv",
                    option, "shared"}, dir.Path(), {}, "/usr/bin/setpriv");
    };
    const Result trial = asNobody("-n");
    const Result run = asNobody("-q");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(trial.out, run.out);
    EXPECT_TRUE(Exists(dir / "shared/theirs.mp3"));
    EXPECT_TRUE(Exists(dir / "shared/Mine.mp3"));
}

TEST_F(CliTest, AnUndoLeavesOpenWhatItCouldNotMoveAndRetriesIt)
{
    Folder("m");
    Mp3("m/a.mp3", "Song A");
    Mp3("m/b.mp3", "Song B");
    Mp3("m/c.mp3", "Song C");
    Mp3("m/d.mp3", "Song D");
    ASSERT_EQ(Run({"-t", "m"}, dir.Path()).status, 0);
    const std::string taker = Mp3("m/a.mp3", "Newcomer");    // a's old name taken
    const std::string songB = dir / "m/Song B.mp3", away = dir / "away.mp3";
    ASSERT_EQ(std::rename(songB.c_str(), away.c_str()), 0);   // b gone for now
    // d deleted, and another recording arrived under its new name (often
    // with d's inode number: its birth time tells it apart).
    std::remove((dir / "m/Song D.mp3").c_str());
    Mp3("m/Song D.mp3", "Stranger");
    // A record torn by a power cut ends the journal.
    const std::string journal = state / "mp3tavoly/run-1";
    WriteBytes(journal, ReadBytes(journal) + std::string("\0\0M0000", 7));
    const auto before = Manifest();
    const Result undo = Run({"--undo", "--tsv"}, dir.Path());
    EXPECT_EQ(undo.status, 1);
    auto rows = ParseTsv(undo.out);
    std::sort(rows.begin(), rows.end(), [](const auto& x, const auto& y) { return x[2] < y[2]; });
    ASSERT_EQ(rows.size(), 4u) << undo.out;
    EXPECT_EQ(rows[0][0], "Failed, Old name is taken! ");
    EXPECT_EQ(rows[0][3], "File exists");
    EXPECT_EQ(rows[1][0], "Failed, File is gone! ");
    EXPECT_EQ(rows[2][0], "Moved back");
    EXPECT_EQ(rows[3][0], "Failed, Another file has the new name! ");   // not ours: left alone
    auto expected = before;
    expected["m/c.mp3"] = expected["m/Song C.mp3"];
    expected.erase("m/Song C.mp3");
    EXPECT_EQ(Manifest(), expected);
    EXPECT_NE(Run({"--runs"}, dir.Path()).out.find("(partly undone, 3 left)"), std::string::npos);

    // Put right, the second undo retries exactly the three left.
    std::remove(taker.c_str());
    ASSERT_EQ(std::rename(away.c_str(), songB.c_str()), 0);
    const Result again = Run({"--undo", "1", "--tsv"}, dir.Path());
    EXPECT_EQ(again.status, 1);   // d is still not there
    EXPECT_EQ(ParseTsv(again.out).size(), 3u) << again.out;
    EXPECT_TRUE(Exists(dir / "m/a.mp3") && Exists(dir / "m/b.mp3"));
    EXPECT_NE(Run({"--runs"}, dir.Path()).out.find("(partly undone, 1 left)"), std::string::npos);
    EXPECT_EQ(Run({"--forget", "1"}, dir.Path()).status, 0);
    EXPECT_EQ(Run({"--undo", "1"}, dir.Path()).status, 2);
    EXPECT_NE(Run({"--runs"}, dir.Path()).out.find("(given up)"), std::string::npos);
    // The journal only grew: the torn record and every mark are still in it.
    EXPECT_NE(ReadBytes(journal).find(std::string("\0\0M0000", 7)), std::string::npos);
}

TEST_F(CliTest, WithoutAOrTTheWindowProgramsSettingHolds)
{
    // A copy of the program in a folder of its own, with its settings file.
    Folder("prog");
    Folder("prog/Vov");
    const std::string program = dir / "prog/mp3tavoly-rename";
    WriteBytes(program, ReadBytes(kRenameExe));
    chmod(program.c_str(), 0755);
    Folder("m");
    Mp3("m/a.mp3", "Hotel California", "Eagles");
    EXPECT_EQ(Run({"m"}, dir.Path(), {}, program).status, 0);   // no file: with artist
    EXPECT_TRUE(Exists(dir / "m/Eagles - Hotel California.mp3"));
    WriteBytes(dir / "prog/Vov/Vov.dat", std::string(12000, '\0') + "0");
    EXPECT_EQ(Run({"m"}, dir.Path(), {}, program).status, 0);
    EXPECT_TRUE(Exists(dir / "m/Hotel California.mp3"));
}

TEST_F(CliTest, AnUndoOnAReadOnlyFileSystemStaysOpenUntilItCanMoveThemAll)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "mounting a file system of its own needs root";
    Folder("fs");
    const std::string fs = dir / "fs";
    if (mount("tavoly-ro", fs.c_str(), "tmpfs", 0, "size=1m,mode=0755") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    struct Unmount
    {
        std::string path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{fs};
    for (int i = 0; i < 5; ++i)
        Mp3("fs/t" + std::to_string(i) + ".mp3", "Song " + std::to_string(i));
    const auto before = Manifest();
    EXPECT_EQ(Run({"-t", "-q", "fs"}, dir.Path()).status, 0);
    ASSERT_EQ(mount(nullptr, fs.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    const Result readOnly = Run({"--undo", "--tsv"}, dir.Path());
    ASSERT_EQ(mount(nullptr, fs.c_str(), nullptr, MS_REMOUNT, nullptr), 0);
    EXPECT_EQ(readOnly.status, 1);
    for (const auto& row : ParseTsv(readOnly.out))
        EXPECT_EQ(row[3], "Read-only file system") << row[0];
    EXPECT_NE(readOnly.err.find("5 files not back yet"), std::string::npos) << readOnly.err;
    const Result writable = Run({"--undo"}, dir.Path());
    EXPECT_EQ(writable.status, 0) << writable.err;
    EXPECT_EQ(Manifest(), before);
}

TEST_F(CliTest, ADamagedRecordIsSkippedAndEveryOtherFileComesBack)
{
    Folder("m");
    for (int i = 0; i < 60; ++i)
        Mp3("m/t" + std::to_string(i) + ".mp3", "Song " + std::to_string(i));
    const auto before = Manifest();
    ASSERT_EQ(Run({"-t", "-q", "m"}, dir.Path()).status, 0);
    const std::string journal = state / "mp3tavoly/run-1";
    std::string bytes = ReadBytes(journal);
    // Every frame checks by the standard CRC-32C, whichever way it was computed.
    ASSERT_EQ(Crc32c("123456789"), 0xE3069283u);
    for (size_t at = bytes.find(std::string(2, '\0')); at != std::string::npos;
         at = bytes.find(std::string(2, '\0'), at + 19 + std::stoul(bytes.substr(at + 3, 8), nullptr, 16))) {
        const size_t length = std::stoul(bytes.substr(at + 3, 8), nullptr, 16);
        EXPECT_EQ(std::stoul(bytes.substr(at + 11, 8), nullptr, 16),
                  Crc32c(bytes.substr(at + 2, 9) + bytes.substr(at + 19, length))) << at;
    }
    bytes[bytes.size() / 2] ^= 0x20;
    WriteBytes(journal, bytes);
    const Result undo = Run({"--undo", "--tsv"}, dir.Path());
    EXPECT_EQ(undo.status, 1);
    const auto rows = ParseTsv(undo.out);
    const auto damaged = std::count_if(rows.begin(), rows.end(), [](const auto& row) {
        return row[0] == "Failed, Damaged journal record! ";
    });
    EXPECT_EQ(damaged, 1) << undo.out;
    EXPECT_EQ(rows.size(), 60u);   // the other 59 moved back
    const auto after = Manifest();
    const auto notBack = std::count_if(before.begin(), before.end(),
                                       [&after](const auto& entry) { return after.count(entry.first) == 0; });
    EXPECT_EQ(notBack, 1);   // only the damaged record's file
    EXPECT_GE(ReadBytes(journal).size(), bytes.size());       // never shortened
    // The file the damaged record named is not counted as back.
    const Result runs = Run({"--runs"}, dir.Path());
    EXPECT_NE(runs.out.find("(partly undone, 0 left, 1 file unknown: a damaged record)"), std::string::npos)
        << runs.out;
    const Result again = Run({"--undo"}, dir.Path());
    EXPECT_EQ(again.status, 1);   // still open, still named, and how to close it
    EXPECT_NE(again.err.find("; close the run: mp3tavoly-rename --forget 1"), std::string::npos) << again.err;
}

TEST_F(CliTest, ARunDeeperThanAPathCanNameIsUndone)
{
    // 24 levels of 200-byte names: deeper than PATH_MAX, reached only by descriptors.
    const std::string level(200, 'd');
    int fd = open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY);
    std::string script;
    for (int i = 0; i < 24; ++i) {
        ASSERT_EQ(mkdirat(fd, level.c_str(), 0755), 0);
        const int next = openat(fd, level.c_str(), O_RDONLY | O_DIRECTORY);
        close(fd);
        fd = next;
        script += "cd " + level + " && ";
    }
    const auto names = [&fd] {
        std::vector<std::string> found;
        DIR* listing = fdopendir(dup(fd));
        rewinddir(listing);
        while (const dirent* entry = readdir(listing))
            if (entry->d_name[0] != '.')
                found.push_back(entry->d_name);
        closedir(listing);
        std::sort(found.begin(), found.end());
        return found;
    };
    for (int i = 0; i < 3; ++i) {
        const std::string bytes = Audio(300) + Record("Deep " + std::to_string(i));
        const int file = openat(fd, ("t" + std::to_string(i) + ".mp3").c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_EQ(write(file, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        close(file);
    }
    const auto before = names();
    const Result run = Run({"-c", script + "exec \"$0\" -t .", kRenameExe}, dir.Path(), {}, "/bin/bash");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(names(), (std::vector<std::string>{"Deep 0.mp3", "Deep 1.mp3", "Deep 2.mp3"}));
    const Result undo = Run({"--undo"}, "/");
    EXPECT_EQ(undo.status, 0) << undo.err;
    EXPECT_EQ(names(), before);
    close(fd);
}

TEST_F(CliTest, RootRenamesNothingOutsideTheTreeThroughOthersLinks)
{
    if (!IsRoot())
        GTEST_SKIP() << "needs root and setpriv: root running on a tree another user can write";
    chmod(dir.Path().c_str(), 0755);
    Folder("secret");
    chmod((dir / "secret").c_str(), 0700);   // only root may enter
    Folder("tree");
    Folder("tree/shared");
    chmod((dir / "tree/shared").c_str(), 01777);
    Folder("tree/shared/sub");
    for (const char* name : {"a.mp3", "b.mp3"}) {
        Mp3(std::string("secret/") + name, std::string("Chosen ") + name);
        ASSERT_EQ(chown(Mp3(std::string("tree/shared/sub/") + name, std::string("Own ") + name).c_str(),
                        65534, 65534), 0);
    }
    ASSERT_EQ(chown((dir / "tree/shared/sub").c_str(), 65534, 65534), 0);
    // A link the other user made before the run.
    ASSERT_EQ(Run({"-c", std::string(kAsNobody) + "ln -s ../../secret tree/shared/link"}, dir.Path(), {},
                  "/bin/sh").status, 0);
    const auto secret = TakeManifest(dir / "secret");
    if (!ShimReaches())
        GTEST_SKIP() << "the preloaded shim does not reach this build's write()";
    // After the search, just before the first write of the journal, the user
    // swaps the folder for a link to the secret one.
    const Result run = RunShimmed({"-t", "tree"}, {
        {"TAVOLY_KILL_AT", "1"},
        {"TAVOLY_HOOK_CMD", std::string(kAsNobody)
                            + "sh -c 'mv tree/shared/sub tree/shared/old && ln -s ../../secret tree/shared/sub'"}});
    EXPECT_NE(run.status, 99) << "the swap itself failed";
    EXPECT_NE(run.err.find("tree/shared/link: a link in a folder that others can write to, not followed"),
              std::string::npos) << run.err;
    EXPECT_EQ(TakeManifest(dir / "secret"), secret);
    const Result undo = Run({"--undo"}, dir.Path());   // the folder is a link now: refused
    EXPECT_EQ(undo.status, 1) << undo.err;
    EXPECT_EQ(TakeManifest(dir / "secret"), secret);
}

TEST_F(CliTest, TheJournalMustBeTheRunnersOwn)
{
    Folder("m");
    Mp3("m/a.mp3", "Song A");
    Folder("elsewhere");
    const auto before = Manifest();
    const std::string journal = state / "mp3tavoly";
    const auto refused = [&](const std::string& what) {
        SCOPED_TRACE(what);
        const Result trial = Run({"-t", "-n", "m"}, dir.Path());
        const Result run = Run({"-t", "m"}, dir.Path());
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(trial.status, 1);   // the dry run says so too
        EXPECT_EQ(trial.out, run.out);
        EXPECT_NE(run.err.find("refusing to use it"), std::string::npos) << run.err;
        EXPECT_EQ(Manifest(), before);
    };
    ASSERT_EQ(symlink((dir / "elsewhere").c_str(), journal.c_str()), 0);
    refused("a link");
    std::remove(journal.c_str());
    ASSERT_EQ(mkdir(journal.c_str(), 0700), 0);
    chmod(journal.c_str(), 0777);
    refused("writable by others");
    chmod(journal.c_str(), 0700);
    if (IsRoot()) {
        ASSERT_EQ(chown(journal.c_str(), 65534, 65534), 0);   // sudo -E with the user's folder
        refused("another user's");
        const Result undo = Run({"--undo", "1"}, dir.Path());
        EXPECT_EQ(undo.status, 1);
        EXPECT_NE(undo.err.find("refusing to use it"), std::string::npos) << undo.err;
        ASSERT_EQ(chown(journal.c_str(), 0, 0), 0);
    }
    // An unwritable folder: the dry run predicts the refusal.
    const Result noFolder = Run({"-t", "-n", "m"}, dir.Path(), {{"XDG_STATE_HOME", dir / "m/a.mp3"}});
    EXPECT_EQ(noFolder.status, 1);
    EXPECT_NE(noFolder.err.find("cannot write the journal"), std::string::npos) << noFolder.err;
    EXPECT_EQ(noFolder.out, "");

    // A journal's names are one path component each, whoever wrote it.
    WriteBytes(dir / "victim.mp3", "keep me");
    WriteBytes(journal + "/run-7", std::string("mp3tavoly-rename journal 1\n0\nM") + (dir / "m/a.mp3")
                                       + std::string(1, '\0') + "../victim.mp3" + std::string(1, '\0'));
    chmod((journal + "/run-7").c_str(), 0600);
    const Result undo = Run({"--undo", "7"}, dir.Path());
    EXPECT_EQ(undo.status, 1);
    EXPECT_NE(undo.out.find("Failed, Damaged journal record!"), std::string::npos) << undo.out;
    EXPECT_EQ(ReadBytes(dir / "victim.mp3"), "keep me");
    EXPECT_TRUE(Exists(dir / "m/a.mp3"));
}

// Scripts read --tsv and --json: the system's reasons in them stay English
// in any language, though strerror follows it.
TEST_F(CliTest, MachineReadableReasonsStayEnglishInTheUsersLanguage)
{
    const std::string journal = state / "mp3tavoly";
    ASSERT_EQ(mkdir(journal.c_str(), 0700), 0);
    // A socket where a run should be: opening it fails with ENXIO.
    const std::string run = journal + "/run-1";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(run.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, run.c_str());
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    close(sock);
    const std::vector<std::pair<std::string, std::string>> german{
        {"LC_ALL", ""}, {"LC_MESSAGES", ""}, {"LANG", "C.UTF-8"}, {"LANGUAGE", "de"}};
    const Result json = Run({"--runs", "--json"}, dir.Path(), german);
    EXPECT_NE(json.out.find("\"state\":\"unreadable: No such device or address\""), std::string::npos) << json.out;
    const Result tsv = Run({"--runs", "--tsv"}, dir.Path(), german);
    EXPECT_NE(tsv.out.find("\tunreadable: No such device or address\t"), std::string::npos) << tsv.out;
}

TEST_F(CliTest, PeopleReadTheirLanguageWhileTsvStaysEnglish)
{
    Mp3("a.mp3", "Song A");
    const std::vector<std::pair<std::string, std::string>> german{
        {"LC_ALL", ""}, {"LC_MESSAGES", ""}, {"LANG", "C.UTF-8"}, {"LANGUAGE", "de"}};
    const Result help = Run({"--help"}, dir.Path(), german);
    EXPECT_EQ(help.out.rfind("Aufruf: mp3tavoly-rename ", 0), 0u) << help.out;
    const Result lines = Run({"-n", "-t", "."}, dir.Path(), german);
    EXPECT_EQ(lines.out, "Erfolgreich: ./a.mp3 -> Song A.mp3\n");
    EXPECT_EQ(lines.err.rfind("1 umbenannt, 0 fehlgeschlagen, 0 unver\xC3\xA4ndert, ", 0), 0u)
        << lines.err;
    const Result tsv = Run({"-n", "-t", "--tsv", "."}, dir.Path(), german);
    EXPECT_EQ(tsv.out, "Successful\t./a.mp3\tSong A.mp3\t\n");
}

TEST_F(CliTest, AKillInsideTheLinkAndUnlinkMoveIsUndoneByRemovingTheExtraName)
{
    Folder("m");
    Mp3("m/a.mp3", "Song A");
    Mp3("m/b.mp3", "Song B");
    const auto before = Manifest();
    if (!ShimReaches())
        GTEST_SKIP() << "the preloaded shim does not reach this build's write()";
    // Counted: the header's write, the first record's, then the link.
    const Result run = RunShimmed({"-t", "m"}, {{"TAVOLY_NO_RENAMEAT2", "1"}, {"TAVOLY_KILL_AT", "3"},
                                                {"TAVOLY_KILL_WHEN", "after"}});
    EXPECT_EQ(run.status, 1000 + SIGKILL);
    const auto linked = Manifest();
    EXPECT_EQ(linked.size(), before.size() + 1);   // one file under two names
    const Result undo = Run({"--undo"}, dir.Path());
    EXPECT_EQ(undo.status, 0) << undo.out << undo.err;
    EXPECT_EQ(Manifest(), before);
    // Without a kill the fallback renames and undoes as the ordinary move does.
    EXPECT_EQ(RunShimmed({"-t", "m"}, {{"TAVOLY_NO_RENAMEAT2", "1"}}).status, 0);
    EXPECT_TRUE(Exists(dir / "m/Song A.mp3") && Exists(dir / "m/Song B.mp3"));
    EXPECT_EQ(RunShimmed({"--undo"}, {{"TAVOLY_NO_RENAMEAT2", "1"}}).status, 0);
    EXPECT_EQ(Manifest(), before);
}

// A run killed at its first journal write leaves an empty file: listed,
// passed over by an undo of the last run, and removed by --forget.
TEST_F(CliTest, AnEmptyRunIsListedPassedOverAndRemoved)
{
    Folder("m");
    Mp3("m/a.mp3", "Song A");
    const auto before = Manifest();
    ASSERT_EQ(Run({"-t", "-q", "m"}, dir.Path()).status, 0);
    const std::string empty = state / "mp3tavoly/run-2";
    WriteBytes(empty, "");
    chmod(empty.c_str(), 0600);
    EXPECT_NE(Run({"--runs"}, dir.Path()).out.find("2    0 files    (empty)"), std::string::npos);
    EXPECT_EQ(Run({"--undo", "2"}, dir.Path()).status, 2);
    const Result undo = Run({"--undo", "-q"}, dir.Path());
    EXPECT_EQ(undo.status, 0) << undo.err;
    EXPECT_NE(undo.err.find("run 2 is empty (stopped at its first journal write); passed over"),
              std::string::npos) << undo.err;
    EXPECT_EQ(Manifest(), before);
    const Result forget = Run({"--forget", "2"}, dir.Path());
    EXPECT_EQ(forget.status, 0) << forget.err;
    EXPECT_FALSE(Exists(empty));
}

// A flush that failed once is not taken back by a later one that worked.
TEST_F(CliTest, AJournalThatMayBeIncompleteFailsTheRun)
{
    Folder("m");
    Mp3("m/a.mp3", "Song A");
    if (!ShimReaches())
        GTEST_SKIP() << "the preloaded shim does not reach this build's write()";
    const Result run = RunShimmed({"-t", "-q", "--json", "m"}, {{"TAVOLY_FAIL_SYNC", "1"}});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Input/output error"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("; the journal may be incomplete"), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("\"journal_complete\":false"), std::string::npos) << run.out;
    EXPECT_TRUE(Exists(dir / "m/Song A.mp3"));   // renamed, and kept in the journal as far as it goes
    EXPECT_EQ(Run({"--undo", "-q"}, dir.Path()).status, 0);
}

TEST_F(CliTest, LimitsStopTheRunWithItsSummary)
{
    Folder("m");
    for (int i = 0; i < 600; ++i)
        Mp3("m/t" + std::to_string(i) + ".mp3", "S" + std::to_string(i));
    const auto before = Manifest();
    // A file-size limit the journal outgrows at its second batch of records:
    // the run stops there, after the first batch's moves.
    const Result limited = Run({"--fsize=30000", kRenameExe, "-t", "-q", "m"}, dir.Path(), {}, "/usr/bin/prlimit");
    EXPECT_EQ(limited.status, 1) << limited.err;
    EXPECT_NE(limited.err.find("File too large; stopped"), std::string::npos) << limited.err;
    EXPECT_NE(limited.err.find("256 renamed, 0 failed"), std::string::npos) << limited.err;
    EXPECT_NE(limited.err.find("; run 1 (undo:"), std::string::npos) << limited.err;
    EXPECT_EQ(Run({"--undo"}, dir.Path()).status, 0);
    EXPECT_EQ(Manifest(), before);

    if (kOwnAllocator || !ShimReaches())
        GTEST_SKIP() << "the preloaded shim does not reach this build's malloc()";
    for (int i = 0; i < 600; ++i)
        Mp3("m/" + std::string(150, 'n') + std::to_string(i) + ".mp3", "Song " + std::to_string(i));
    const auto many = Manifest();
    const Result starved = RunShimmed({"-t", "m"}, {{"TAVOLY_FAIL_BIG_ALLOC", "3"}});
    EXPECT_EQ(starved.status, 3) << starved.err;
    EXPECT_NE(starved.err.find("out of memory; stopped"), std::string::npos) << starved.err;
    EXPECT_NE(starved.err.find(" renamed, "), std::string::npos) << starved.err;   // the summary
    EXPECT_EQ(Manifest(), many);
}

} // namespace
