// SPDX-License-Identifier: GPL-3.0-or-later
// mp3tavoly-rename: the program's Auto-Rename without a window, with a
// journal that undoes any past run. Parses its arguments, calls the library,
// prints.
#include "cli/Report.h"

#include "core/Journal.h"
#include "core/RenameBatch.h"
#include "core/Settings.h"
#include "core/TextCodec.h"
#include "core/Translate.h"
#include "naming/TagNameRule.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <clocale>
#include <cstring>
#include <memory>
#include <new>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <string>
#include <vector>

namespace {

// Descriptors held open for nothing but their number.
class DescriptorStandIns
{
public:
    explicit DescriptorStandIns(int count)
    {
        for (int i = 0; i < count; ++i)
            m_fds.push_back(open("/dev/null", O_RDONLY | O_CLOEXEC));
    }
    ~DescriptorStandIns()
    {
        for (const int fd : m_fds) {
            if (fd >= 0)
                close(fd);
        }
    }
    DescriptorStandIns(const DescriptorStandIns&) = delete;
    DescriptorStandIns& operator=(const DescriptorStandIns&) = delete;

private:
    std::vector<int> m_fds;
};

// kOutOfMemory: not bad usage, and not a run that ended with some files
// failed; stopped midway, with every move made kept in the journal.
enum { kOk = 0, kSomeFailed = 1, kBadUsage = 2, kOutOfMemory = 3 };

// --help, in pieces a translator can take one at a time; a blank line
// between them.
const char* const kUsage[] = {
    // TRANSLATORS: --help; keep the program's name and the options as they
    // are. PATH, RUN and N may be translated, the same way in every piece.
    N_("Usage: mp3tavoly-rename [-a | -t | -f TEMPLATE] [--tag v1|v2|any] [-n] [-q]\n"
       "                        [--tsv | --json] [--no-recurse | --max-depth N] PATH...\n"
       "       mp3tavoly-rename --undo [RUN] [-n] [-q] [--tsv | --json]\n"
       "       mp3tavoly-rename --runs [--tsv | --json]\n"
       "       mp3tavoly-rename --forget RUN\n"),
    N_("Renames MP3 files after the title in their ID3v1 tag, in their own folder,\n"
       "never replacing another file, as Mp3 Tavoly's Auto-Rename does. Folders are\n"
       "searched with all their sub-folders. Every run is kept in a journal and can\n"
       "be undone later.\n"),
    // TRANSLATORS: --help; keep the options and the column where their
    // descriptions begin.
    // xgettext:no-c-format
    N_("  -a             name files \"Artist - Title.mp3\"\n"
       "  -t             name files \"Title.mp3\"\n"
       "                 (without -a, -t or -f: the setting of the Mp3 Tavoly program)\n"
       "  -f, --format TEMPLATE\n"
       "                 name files after TEMPLATE: %t title, %a artist, %l album,\n"
       "                 %y year, %n track (two digits), %g genre, %% a %; a part in\n"
       "                 [ ] is left out when a field in it is empty. Example:\n"
       "                 -f '[%n ][%a - ]%t' gives \"07 Eagles - Hotel California.mp3\"\n"
       "      --tag v1|v2|any\n"
       "                 read the ID3v1 tag (the default), the ID3v2 tag, or ID3v2\n"
       "                 where it has a title and ID3v1 otherwise. Example:\n"
       "                 --tag any -t names after titles longer than ID3v1's 30 bytes\n"
       "  -n, --dry-run  change nothing; print what would happen\n"
       "  -q, --quiet    no progress line, no summary\n"
       "      --no-recurse\n"
       "                 only the files directly in each PATH folder\n"
       "      --max-depth N\n"
       "                 enter at most N levels of sub-folders (0: --no-recurse)\n"
       "      --tsv      tab-separated lines: state, path, new name, reason\n"
       "                 (\\\\ \\t \\n \\r escaped)\n"
       "      --json     JSON Lines: an object per file (or run), then a summary;\n"
       "                 a path or name that is not UTF-8 comes in hex too (path_hex)\n"
       "      --undo [RUN]\n"
       "                 move the files of the last run (or of RUN) back; again\n"
       "                 to retry the files that could not be moved back\n"
       "      --runs     list the runs: id, time, files renamed, first path, state\n"
       "      --forget RUN\n"
       "                 give up the files of RUN not moved back; it is closed\n"
       "  -h, --help     show this help\n"
       "      --version  show the version\n"),
    N_("Exit status: 0 every file renamed or already named right (or back); 1 some\n"
       "file failed or is not back yet, or the journal may be incomplete; 2 bad\n"
       "usage, or a PATH that does not exist; 3 out of memory; 130 stopped by Ctrl+C.\n"
       "Journal: $XDG_STATE_HOME/mp3tavoly (default ~/.local/state/mp3tavoly).\n"),
};

struct Options
{
    enum Mode { Rename, Undo, Runs, Forget, Help, Version } mode = Rename;
    int artistFirst = -1;   // -1: the program's setting
    bool trial = false;
    bool quiet = false;
    bool tsv = false;
    bool json = false;
    int maxDepth = -1;      // levels of sub-folders entered; -1 all
    TagChoice tags = TagChoice::V1;
    bool tagGiven = false;
    CNameTemplate format;
    bool formatGiven = false;
    std::string run;
    std::vector<std::string> paths;
};

int UsageError(const std::string& message)
{
    std::fprintf(stderr, "mp3tavoly-rename: %s\n%s\n", message.c_str(),
                 Tr("Try 'mp3tavoly-rename --help' for more information."));
    return kBadUsage;
}

// 0 when the arguments make sense, else the exit status after the message.
int Parse(int argc, char** argv, Options& options)
{
    bool undo = false, runs = false, forget = false, optionsEnd = false;
    std::vector<std::string> operands;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnd || arg.size() < 2 || arg[0] != '-') {
            operands.push_back(arg);
        } else if (arg == "--") {
            optionsEnd = true;
        } else if (arg == "--dry-run") {
            options.trial = true;
        } else if (arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "--tsv") {
            options.tsv = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--no-recurse") {
            options.maxDepth = 0;
        } else if (arg == "--max-depth" || arg.compare(0, 12, "--max-depth=") == 0) {
            std::string value;
            if (arg.size() > 11)
                value = arg.substr(12);
            else if (i + 1 < argc)
                value = argv[++i];
            char* end = nullptr;
            errno = 0;
            const long depth = value.empty() || value[0] < '0' || value[0] > '9'
                                   ? -1 : std::strtol(value.c_str(), &end, 10);
            if (depth < 0 || *end != '\0' || errno != 0 || depth > 1000000)
                return UsageError(Tr("--max-depth takes a number of levels, 0 or more"));
            options.maxDepth = static_cast<int>(depth);
        } else if (arg == "--tag" || arg.compare(0, 6, "--tag=") == 0) {
            const std::string value = arg.size() > 5 ? arg.substr(6) : i + 1 < argc ? argv[++i] : "";
            if (value != "v1" && value != "v2" && value != "any")
                return UsageError(Tr("--tag takes v1, v2 or any"));
            options.tags = value == "v1" ? TagChoice::V1 : value == "v2" ? TagChoice::V2 : TagChoice::Any;
            options.tagGiven = true;
        } else if (arg == "--format" || arg.compare(0, 9, "--format=") == 0) {
            if (arg.size() == 8 && i + 1 == argc)
                return UsageError(Tr("--format takes a TEMPLATE"));
            std::string why;
            if (!options.format.Parse(arg.size() > 8 ? arg.substr(9) : argv[++i], why))
                return UsageError(FormatText(Tr("--format: %s"), why.c_str()));
            options.formatGiven = true;
        } else if (arg == "--undo") {
            undo = true;
        } else if (arg.compare(0, 7, "--undo=") == 0) {
            undo = true;
            operands.push_back(arg.substr(7));
        } else if (arg == "--runs") {
            runs = true;
        } else if (arg == "--forget") {
            forget = true;
        } else if (arg.compare(0, 9, "--forget=") == 0) {
            forget = true;
            operands.push_back(arg.substr(9));
        } else if (arg == "--help") {
            options.mode = Options::Help;
            return 0;
        } else if (arg == "--version") {
            options.mode = Options::Version;
            return 0;
        } else if (arg[1] == '-') {
            return UsageError(FormatText(Tr("unknown option '%s'"), arg.c_str()));
        } else {
            for (std::size_t k = 1; k < arg.size(); ++k) {
                switch (arg[k]) {
                case 'a':
                case 't': {
                    const int mode = arg[k] == 'a' ? 1 : 0;
                    if (options.artistFirst == 1 - mode)
                        return UsageError(Tr("-a and -t exclude each other"));
                    options.artistFirst = mode;
                    break;
                }
                case 'f': {
                    if (k + 1 == arg.size() && i + 1 == argc)
                        return UsageError(Tr("-f takes a TEMPLATE"));
                    std::string why;
                    if (!options.format.Parse(k + 1 < arg.size() ? arg.substr(k + 1) : argv[++i], why))
                        return UsageError(FormatText(Tr("--format: %s"), why.c_str()));
                    options.formatGiven = true;
                    k = arg.size();   // the rest of the argument was the template
                    break;
                }
                case 'n': options.trial = true; break;
                case 'q': options.quiet = true; break;
                case 'h': options.mode = Options::Help; return 0;
                default: return UsageError(FormatText(Tr("unknown option '%s'"), ("-" + arg.substr(k, 1)).c_str()));
                }
            }
        }
    }
    if (undo + runs + forget > 1)
        return UsageError(Tr("--undo, --runs and --forget exclude each other"));
    if (options.tsv && options.json)
        return UsageError(Tr("--tsv and --json exclude each other"));
    if ((undo || runs || forget) && options.artistFirst >= 0)
        return UsageError(Tr("-a and -t are for renaming"));
    if ((undo || runs || forget) && options.maxDepth >= 0)
        return UsageError(Tr("--no-recurse and --max-depth are for renaming"));
    if ((undo || runs || forget) && (options.tagGiven || options.formatGiven))
        return UsageError(Tr("--tag and --format are for renaming"));
    if (options.formatGiven && options.artistFirst >= 0)
        return UsageError(Tr("-a, -t and --format exclude each other"));
    if (forget) {
        options.mode = Options::Forget;
        if (operands.size() != 1 || operands[0].empty() || options.trial)
            return UsageError(Tr("--forget takes one RUN"));
        options.run = operands[0];
    } else if (runs) {
        options.mode = Options::Runs;
        if (!operands.empty() || options.trial)
            return UsageError(Tr("--runs takes nothing but --tsv or --json"));
    } else if (undo) {
        options.mode = Options::Undo;
        if (operands.size() > 1)
            return UsageError(Tr("--undo takes one run at most"));
        if (!operands.empty() && operands[0].empty())
            return UsageError(Tr("empty RUN"));   // "$RUN" unset must not mean the last run
        if (!operands.empty())
            options.run = operands[0];
    } else {
        if (operands.empty())
            return UsageError(Tr("no PATH given"));
        options.paths = std::move(operands);
    }
    return 0;
}

void OnStopSignal(int signal)
{
    g_stopSignal = signal;
}

// The first Ctrl+C (or SIGTERM, SIGHUP) lets the file in hand finish; a
// second one ends the program at once, which the journal also survives.
void CatchStopSignals()
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnStopSignal;
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);   // a closed stdout shows as a write error
    // A file-size limit makes a journal write fail with EFBIG, which stops the
    // run before its next move, instead of ending the program mid-run.
    std::signal(SIGXFSZ, SIG_IGN);
}

int StopStatus()
{
    return g_stopSignal != 0 ? 128 + g_stopSignal : 0;
}

std::string RunNote(const std::string& id)
{
    if (id.empty())
        return std::string();
    // TRANSLATORS: the notes end the summary line, "3 renamed, 0 failed, 0
    // unchanged, 0.02 seconds; run 12 (undo: ...)"; each begins with "; ".
    return FormatText(Tr("; run %s (undo: mp3tavoly-rename --undo %s)"), id.c_str(), id.c_str());
}

std::string RenameNote(const Options& options, const std::string& id)
{
    std::string note = options.trial ? Tr("; dry run, nothing changed") : RunNote(id);
    if (g_stopSignal != 0)
        note += Tr("; stopped by a signal");
    return note;
}

CReport::Format FormatOf(const Options& options)
{
    return options.json ? CReport::JsonLines : options.tsv ? CReport::Tsv : CReport::Readable;
}

// The JSON summary's fields beside the counts.
Json RenameFacts(const Options& options, const CReport& report, const std::string& id)
{
    Json facts;
    facts["unopened"] = report.Unopened();
    facts["dry_run"] = options.trial;
    facts["run"] = id.empty() ? Json() : Json(id);
    return facts;
}

int Rename(const Options& options)
{
    CReport report(FormatOf(options), options.quiet);
    int status = kOk;
    CRunRecorder journal(JournalFolder());
    int performed = 0;
    bool outOfMemory = false;
    std::unique_ptr<CTagNameRule> rule;
    try {
        CRenameBatch batch;
        batch.SetMaxDepth(options.maxDepth);
        // Without --tag and --format, exactly the window's rule.
        if (options.tags != TagChoice::V1 || options.formatGiven) {
            rule = std::make_unique<CTagNameRule>(options.tags, options.formatGiven ? &options.format : nullptr);
            batch.SetNameRule(rule.get());
        }
        for (const std::string& path : options.paths) {
            const int added = g_stopSignal != 0 ? -2 : batch.AddPath(path, report);
            if (added == 0) {
                const int err = errno;
                report.Error(DisplayableUtf8(path) + ": " + std::strerror(err));
                status = kBadUsage;
            } else if (added == -1) {
                report.Error(FormatText(Tr("%s: neither an MP3 file nor a folder"), DisplayableUtf8(path).c_str()));
                status = kBadUsage;
            }
        }
        const bool artistFirst = options.artistFirst >= 0 ? options.artistFirst == 1
                                                          : ReadModeByte(SettingsFilePath()) != 0;
        // Checked before anything moves; a dry run checks it too, so that it
        // predicts the refusal.
        std::string why;
        if (!(options.trial ? CheckJournalFolder(journal.Folder(), why) : journal.Prepare(why))) {
            report.Error(why);
            report.Summary(RenameNote(options, std::string()), false, RenameFacts(options, report, std::string()));
            report.Flush();
            return StopStatus() != 0 ? StopStatus() : kSomeFailed;
        }
        // A dry run holds a descriptor where the real run holds its
        // journal's folder (the batch stands in for its file), so that under
        // a low descriptor limit it runs short exactly where the real run would.
        DescriptorStandIns standIns(options.trial ? 1 : 0);
        if (g_stopSignal == 0)
            performed = batch.Run(artistFirst, options.trial ? nullptr : &journal, report);
    } catch (const std::bad_alloc&) {
        outOfMemory = true;   // the plan is freed now; the journal holds every move made
    }
    if (outOfMemory)
        report.Error(Tr("out of memory; stopped"));
    if (performed < 0) {
        const int err = errno;
        // TRANSLATORS: %s is "cannot write the journal in FOLDER: REASON".
        report.Error(FormatText(Tr("%s; stopped"), CannotWriteJournal(journal.Folder(), err).c_str()));
    }
    // A write, flush or lock that failed at any time: what the journal
    // holds may not be all the run did, or may not outlive a crash.
    const bool journalWhole = journal.Finish() != 0;
    if (!journalWhole)
        report.Error(CannotWriteJournal(journal.Folder(), errno));
    std::string note = RenameNote(options, journal.Id());
    if (!journalWhole)
        note += Tr("; the journal may be incomplete");
    Json facts = RenameFacts(options, report, journal.Id());
    facts["journal_complete"] = journalWhole;
    report.Summary(note, performed < 0 || outOfMemory || !journalWhole, facts);
    if (!report.Flush()) {
        const int err = errno;
        report.Error(FormatText(Tr("cannot write the output: %s"), std::strerror(err)));
        status = std::max(status, static_cast<int>(kSomeFailed));
    }
    if (StopStatus() != 0)
        return StopStatus();
    if (outOfMemory)
        return kOutOfMemory;
    if (status == kOk && (report.Failed() > 0 || report.Unopened() > 0 || performed < 0 || !journalWhole))
        status = kSomeFailed;
    return status;
}

// Opens run id for undo or forget, or (for undo, id empty) the newest run
// but for empty ones, which are passed over with a word. 0 when open, else
// the exit status after the message. An empty run opens only for forget.
int OpenRun(CReport& report, const std::string& folder, const std::string& id, std::unique_ptr<CPastRun>& run,
            bool forget)
{
    std::vector<std::string> ids{id};
    if (id.empty()) {
        ids = RunIdsNewestFirst(folder);
        std::string why;
        struct stat st;
        if (ids.empty() && lstat(folder.c_str(), &st) == 0) {
            const int fd = OpenJournalFolder(folder, false, why);
            if (fd < 0) {
                report.Error(why);
                return kSomeFailed;
            }
            close(fd);
        }
    }
    for (const std::string& candidate : ids) {
        std::string why;
        // RUN as the user gave it; the folder shown as a name would be.
        const std::string shownId = DisplayableUtf8(candidate);
        run = std::make_unique<CPastRun>();
        switch (run->Open(folder, candidate, why)) {
        case 1: return 0;
        case 0:
            report.Error(FormatText(Tr("no run %s in %s"), shownId.c_str(), DisplayableUtf8(folder).c_str()));
            return kBadUsage;
        case -1:
            report.Error(FormatText(Tr("run %s is in use by another mp3tavoly-rename"), shownId.c_str()));
            return kSomeFailed;
        case -3:
            report.Error(FormatText(Tr("run %s is not a journal of mp3tavoly-rename"), shownId.c_str()));
            return kSomeFailed;
        case -4: report.Error(why); return kSomeFailed;
        case -5:
            if (forget)
                return 0;
            if (id.empty()) {
                // TRANSLATORS: --undo without RUN; the newest run moved nothing.
                report.Error(FormatText(Tr("run %s is empty (stopped at its first journal write); passed over"),
                                        shownId.c_str()));
                continue;
            }
            report.Error(FormatText(Tr("run %s is empty: nothing to undo (mp3tavoly-rename --forget %s removes it)"),
                                    shownId.c_str(), shownId.c_str()));
            return kBadUsage;
        case -6:
            report.Error(FormatText(Tr("run %s was made by a newer version of mp3tavoly-rename; left alone"),
                                    shownId.c_str()));
            return kSomeFailed;
        default: {
            const int err = errno;
            report.Error(FormatText(Tr("cannot read run %s: %s"), shownId.c_str(), std::strerror(err)));
            return kSomeFailed;
        }
        }
    }
    report.Error(FormatText(Tr("no run to undo in %s"), DisplayableUtf8(folder).c_str()));
    return kBadUsage;
}

int Undo(const Options& options)
{
    CReport report(FormatOf(options), options.quiet, true);
    std::unique_ptr<CPastRun> opened;
    if (const int status = OpenRun(report, JournalFolder(), options.run, opened, false))
        return status;
    CPastRun& run = *opened;
    const std::string& id = run.Id();
    if (run.Forgotten()) {
        report.Error(FormatText(Tr("run %s was given up (--forget); nothing to undo"), id.c_str()));
        return kBadUsage;
    }
    if (run.Closed()) {
        report.Error(FormatText(Tr("run %s was undone already"), id.c_str()));
        return kBadUsage;
    }
    int undone = 0;
    bool outOfMemory = false;
    try {
        undone = UndoRun(run, options.trial, report);
        // Stopped early, the undo wrote its marks without telling how that went.
        if (undone == 0 && !options.trial && !run.Flush())
            undone = -1;
    } catch (const std::bad_alloc&) {
        outOfMemory = true;
        if (!run.Flush())
            undone = -1;   // told below, as any failed mark
    }
    if (outOfMemory)
        report.Error(Tr("out of memory; stopped"));
    if (undone < 0) {
        const int err = errno;
        report.Error(FormatText(Tr("cannot mark the files moved back in run %s: %s"), id.c_str(), std::strerror(err)));
    }
    std::string note = options.trial ? std::string(Tr("; dry run, nothing changed"))
                                     : FormatText(Tr("; run %s"), id.c_str());
    const std::size_t left = run.Left();
    if (!options.trial && !run.Closed() && left > 0)
        note += FormatText(TrN("; %zu file not back yet (again: mp3tavoly-rename --undo %s)",
                               "; %zu files not back yet (again: mp3tavoly-rename --undo %s)", left),
                           left, id.c_str());
    const std::size_t damaged = run.Damaged().size();
    if (damaged > 0)
        note += FormatText(TrN("; %zu damaged journal record", "; %zu damaged journal records", damaged), damaged);
    // Only damage keeps it open: an undo cannot do more.
    if (!options.trial && !run.Closed() && left == 0)
        note += FormatText(Tr("; close the run: mp3tavoly-rename --forget %s"), id.c_str());
    if (g_stopSignal != 0)
        note += Tr("; stopped by a signal");
    Json facts;
    facts["dry_run"] = options.trial;
    facts["run"] = id;
    facts["left"] = left;
    facts["damaged"] = run.Damaged().size();
    report.Summary(note, undone < 0 || outOfMemory, facts);
    const bool written = report.Flush();
    if (StopStatus() != 0)
        return StopStatus();
    if (outOfMemory)
        return kOutOfMemory;
    const bool open = options.trial ? report.Failed() > 0 : !run.Closed();
    return open || report.Failed() > 0 || undone < 0 || !written ? kSomeFailed : kOk;
}

int Forget(const Options& options)
{
    CReport report(CReport::Readable, true);
    std::unique_ptr<CPastRun> opened;
    if (const int status = OpenRun(report, JournalFolder(), options.run, opened, true))
        return status;
    CPastRun& run = *opened;
    if (run.Version() == 0) {
        // Empty: a run stopped at its first journal write, which moved nothing.
        if (!run.Forget()) {
            const int err = errno;
            report.Error(FormatText(Tr("cannot remove run %s: %s"), run.Id().c_str(), std::strerror(err)));
            return kSomeFailed;
        }
        std::fprintf(stderr, "%s\n", FormatText(Tr("run %s was empty; removed"), run.Id().c_str()).c_str());
        return kOk;
    }
    if (run.Forgotten() || run.Closed()) {
        report.Error(FormatText(Tr("run %s is closed already"), run.Id().c_str()));
        return kBadUsage;
    }
    const std::size_t left = run.Left();
    if (!run.Forget()) {
        const int err = errno;
        report.Error(FormatText(Tr("cannot mark run %s given up: %s"), run.Id().c_str(), std::strerror(err)));
        return kSomeFailed;
    }
    std::fprintf(stderr, "%s\n",
                 FormatText(TrN("run %s given up: %zu file left under its new name",
                                "run %s given up: %zu files left under their new names", left),
                            run.Id().c_str(), left).c_str());
    return kOk;
}

// A run's state as --runs shows it: "" while nothing of it is undone. In
// English for --tsv and --json, in the user's language for people.
std::string RunState(const RunSummary& run, bool readable)
{
    // TRANSLATORS: the state of a run in --runs' listing, in parentheses.
    const char* unreadable = N_("unreadable: %s");
    const char* givenUp = N_("given up");
    const char* undone = N_("undone");
    // TRANSLATORS: a run's state in --runs: its journal file is empty, or
    // cut short in its first lines (the run stopped at its first write).
    const char* empty = N_("empty");
    const char* noHeader = N_("no header");
    const char* newer = N_("made by a newer version");
    const auto text = [readable](const char* english) { return std::string(readable ? Tr(english) : english); };
    if (!run.problem.empty())
        return readable ? FormatText(Tr(unreadable), TrReason(run.problem.c_str()))
                        : FormatText(unreadable, run.problem.c_str());
    if (run.headerless)
        return text(run.empty ? empty : noHeader);
    if (run.newer)
        return text(newer);
    if (run.forgotten)
        return text(givenUp);
    if (run.closed)
        return text(undone);
    std::string state;
    if (run.left < run.count)
        state = readable ? FormatText(TrN("partly undone, %zu left", "partly undone, %zu left", run.left), run.left)
                         : FormatText("partly undone, %zu left", run.left);
    // A damaged record may have been a move: its file may still have its new name.
    if (run.damaged > 0) {
        state += (state.empty() ? "" : ", ")
                 + (readable ? FormatText(TrN("%zu file unknown: a damaged record",
                                              "%zu files unknown: damaged records", run.damaged), run.damaged)
                             : FormatText(run.damaged == 1 ? "%zu file unknown: a damaged record"
                                                           : "%zu files unknown: damaged records", run.damaged));
    }
    return state;
}

int Runs(const Options& options)
{
    const std::string folder = JournalFolder();
    std::string why;
    struct stat st;
    if (lstat(folder.c_str(), &st) == 0) {
        const int fd = OpenJournalFolder(folder, false, why);
        if (fd < 0) {
            std::fprintf(stderr, "mp3tavoly-rename: %s\n", why.c_str());
            return kSomeFailed;
        }
        close(fd);
    }
    std::string out;
    for (const RunSummary& run : ListRuns(folder)) {
        char time[32] = "";
        std::tm local;
        if (run.started != 0 && localtime_r(&run.started, &local) != nullptr)
            std::strftime(time, sizeof time, "%Y-%m-%d %H:%M:%S", &local);
        const std::string count = std::to_string(run.count);
        const bool readable = !options.json && !options.tsv;
        const std::string state = RunState(run, readable);
        const std::string damaged = std::to_string(run.damaged);
        if (options.json) {
            Json object;
            object["type"] = "run";
            SetJsonText(object, "id", run.id);
            object["time"] = time[0] != '\0' ? Json(std::string(time)) : Json();
            object["files"] = run.count;
            object["left"] = run.left;
            if (run.firstPath.empty())
                object["first_path"] = nullptr;
            else
                SetJsonText(object, "first_path", run.firstPath);
            SetJsonText(object, "state", state);
            object["damaged"] = run.damaged;
            object["program"] = run.window ? "window" : "command";
            AppendJson(out, object);
            out += '\n';
        } else if (options.tsv) {
            out += run.id + '\t' + time + '\t' + count + '\t';
            AppendTsvField(out, run.firstPath);
            out += '\t';
            AppendTsvField(out, state);
            out += '\t' + damaged + (run.window ? "\twindow\n" : "\tcommand\n");
        } else {
            // TRANSLATORS: --runs: a run's id, time, "3 files", then who made
            // it ("by the window") and its first path.
            out += run.id + "  " + time + "  " + FormatText(TrN("%zu file", "%zu files", run.count), run.count)
                   + (run.window ? std::string(" ") + Tr("by the window") + "  " : std::string("  "));
            AppendReadable(out, run.firstPath);
            if (!state.empty())
                out += "  (" + state + ")";
            out += '\n';
        }
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? kOk : kSomeFailed;
}

// A standard descriptor the caller closed would go to the next file opened,
// the journal among them, and the output with it. Each gets /dev/null, opened
// so that using it still fails as on a closed one.
void KeepStandardDescriptorsTaken()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF)
            open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);   // the lowest free number: fd
    }
}

} // namespace

int main(int argc, char** argv)
{
    KeepStandardDescriptorsTaken();
    // Tag texts decode in the code page of the user's locale, as in the window.
    std::setlocale(LC_ALL, "");
    StartTranslations();
    Options options;
    if (const int status = Parse(argc, argv, options))
        return status;
    switch (options.mode) {
    case Options::Help:
        for (std::size_t i = 0; i < std::size(kUsage); ++i)
            std::printf("%s%s", i > 0 ? "\n" : "", Tr(kUsage[i]));
        return kOk;
    case Options::Version:
        std::printf("mp3tavoly-rename %s\n", TAVOLY_VERSION);
        return kOk;
    case Options::Runs:
        return Runs(options);
    case Options::Forget:
        return Forget(options);
    default:
        break;
    }
    CatchStopSignals();
    return options.mode == Options::Undo ? Undo(options) : Rename(options);
}
