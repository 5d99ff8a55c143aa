// mp3tavoly-rename: the program's Auto-Rename without a window, with a
// journal that undoes any past run. Parses its arguments, calls the library,
// prints.
#include "cli/Report.h"

#include "core/Journal.h"
#include "core/RenameBatch.h"
#include "core/Settings.h"
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

enum { kOk = 0, kSomeFailed = 1, kBadUsage = 2 };

const char kUsage[] =
    "Usage: mp3tavoly-rename [-a | -t | -f TEMPLATE] [--tag v1|v2|any] [-n] [-q]\n"
    "                        [--tsv] [--no-recurse | --max-depth N] PATH...\n"
    "       mp3tavoly-rename --undo [RUN] [-n] [-q] [--tsv]\n"
    "       mp3tavoly-rename --runs [--tsv]\n"
    "       mp3tavoly-rename --forget RUN\n"
    "\n"
    "Renames MP3 files after the title in their ID3v1 tag, in their own folder,\n"
    "never replacing another file, as Mp3 Tavoly's Auto-Rename does. Folders are\n"
    "searched with all their sub-folders. Every run is kept in a journal and can\n"
    "be undone later.\n"
    "\n"
    "  -a             name files \"Artist - Title.mp3\"\n"
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
    "      --undo [RUN]\n"
    "                 move the files of the last run (or of RUN) back; again\n"
    "                 to retry the files that could not be moved back\n"
    "      --runs     list the runs: id, time, files renamed, first path, state\n"
    "      --forget RUN\n"
    "                 give up the files of RUN not moved back; it is closed\n"
    "  -h, --help     show this help\n"
    "      --version  show the version\n"
    "\n"
    "Exit status: 0 every file renamed or already named right (or back); 1 some\n"
    "file failed or is not back yet; 2 bad usage, a PATH that does not exist, or\n"
    "out of memory; 130 stopped by Ctrl+C.\n"
    "Journal: $XDG_STATE_HOME/mp3tavoly (default ~/.local/state/mp3tavoly).\n";

struct Options
{
    enum Mode { Rename, Undo, Runs, Forget, Help, Version } mode = Rename;
    int artistFirst = -1;   // -1: the program's setting
    bool trial = false;
    bool quiet = false;
    bool tsv = false;
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
    std::fprintf(stderr, "mp3tavoly-rename: %s\nTry 'mp3tavoly-rename --help' for more information.\n",
                 message.c_str());
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
                return UsageError("--max-depth takes a number of levels, 0 or more");
            options.maxDepth = static_cast<int>(depth);
        } else if (arg == "--tag" || arg.compare(0, 6, "--tag=") == 0) {
            const std::string value = arg.size() > 5 ? arg.substr(6) : i + 1 < argc ? argv[++i] : "";
            if (value != "v1" && value != "v2" && value != "any")
                return UsageError("--tag takes v1, v2 or any");
            options.tags = value == "v1" ? TagChoice::V1 : value == "v2" ? TagChoice::V2 : TagChoice::Any;
            options.tagGiven = true;
        } else if (arg == "--format" || arg.compare(0, 9, "--format=") == 0) {
            if (arg.size() == 8 && i + 1 == argc)
                return UsageError("--format takes a TEMPLATE");
            std::string why;
            if (!options.format.Parse(arg.size() > 8 ? arg.substr(9) : argv[++i], why))
                return UsageError("--format: " + why);
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
            return UsageError("unknown option '" + arg + "'");
        } else {
            for (std::size_t k = 1; k < arg.size(); ++k) {
                switch (arg[k]) {
                case 'a':
                case 't': {
                    const int mode = arg[k] == 'a' ? 1 : 0;
                    if (options.artistFirst == 1 - mode)
                        return UsageError("-a and -t exclude each other");
                    options.artistFirst = mode;
                    break;
                }
                case 'f': {
                    if (k + 1 == arg.size() && i + 1 == argc)
                        return UsageError("-f takes a TEMPLATE");
                    std::string why;
                    if (!options.format.Parse(k + 1 < arg.size() ? arg.substr(k + 1) : argv[++i], why))
                        return UsageError("--format: " + why);
                    options.formatGiven = true;
                    k = arg.size();   // the rest of the argument was the template
                    break;
                }
                case 'n': options.trial = true; break;
                case 'q': options.quiet = true; break;
                case 'h': options.mode = Options::Help; return 0;
                default: return UsageError(std::string("unknown option '-") + arg[k] + "'");
                }
            }
        }
    }
    if (undo + runs + forget > 1)
        return UsageError("--undo, --runs and --forget exclude each other");
    if ((undo || runs || forget) && options.artistFirst >= 0)
        return UsageError("-a and -t are for renaming");
    if ((undo || runs || forget) && options.maxDepth >= 0)
        return UsageError("--no-recurse and --max-depth are for renaming");
    if ((undo || runs || forget) && (options.tagGiven || options.formatGiven))
        return UsageError("--tag and --format are for renaming");
    if (options.formatGiven && options.artistFirst >= 0)
        return UsageError("-a, -t and --format exclude each other");
    if (forget) {
        options.mode = Options::Forget;
        if (operands.size() != 1 || operands[0].empty() || options.trial)
            return UsageError("--forget takes one RUN");
        options.run = operands[0];
    } else if (runs) {
        options.mode = Options::Runs;
        if (!operands.empty() || options.trial)
            return UsageError("--runs takes nothing but --tsv");
    } else if (undo) {
        options.mode = Options::Undo;
        if (operands.size() > 1)
            return UsageError("--undo takes one run at most");
        if (!operands.empty() && operands[0].empty())
            return UsageError("empty RUN");   // "$RUN" unset must not mean the last run
        if (!operands.empty())
            options.run = operands[0];
    } else {
        if (operands.empty())
            return UsageError("no PATH given");
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
    return id.empty() ? std::string() : "; run " + id + " (undo: mp3tavoly-rename --undo " + id + ")";
}

std::string RenameNote(const Options& options, const std::string& id)
{
    std::string note = options.trial ? "; dry run, nothing changed" : RunNote(id);
    if (g_stopSignal != 0)
        note += "; stopped by a signal";
    return note;
}

int Rename(const Options& options)
{
    CReport report(options.tsv, options.quiet);
    int status = kOk;
    CRunJournal journal(JournalFolder());
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
                report.Error(path + ": " + std::strerror(errno));
                status = kBadUsage;
            } else if (added == -1) {
                report.Error(path + ": neither an MP3 file nor a folder");
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
            report.Summary("renamed", RenameNote(options, std::string()));
            report.Flush();
            return StopStatus() != 0 ? StopStatus() : kSomeFailed;
        }
        if (g_stopSignal == 0)
            performed = batch.Run(artistFirst, options.trial ? nullptr : &journal, report);
    } catch (const std::bad_alloc&) {
        outOfMemory = true;   // the plan is freed now; the journal holds every move made
    }
    if (outOfMemory)
        report.Error("out of memory; stopped");
    if (performed < 0) {
        const int err = errno;
        report.Error("cannot write the journal in " + journal.Folder() + ": " + std::strerror(err)
                     + "; stopped");
    }
    if (!journal.Finish())
        report.Error("cannot write the journal in " + journal.Folder() + ": " + std::strerror(errno));
    report.Summary("renamed", RenameNote(options, journal.Id()), performed < 0 || outOfMemory);
    if (!report.Flush()) {
        report.Error(std::string("cannot write the output: ") + std::strerror(errno));
        status = std::max(status, static_cast<int>(kSomeFailed));
    }
    if (StopStatus() != 0)
        return StopStatus();
    if (outOfMemory)
        return kBadUsage;
    if (status == kOk && (report.Failed() > 0 || report.Unopened() > 0 || performed < 0))
        status = kSomeFailed;
    return status;
}

// Opens run id (the last run when empty) for undo or forget; 0 when open,
// else the exit status after the message.
int OpenRun(CReport& report, const std::string& folder, std::string id, CRunFile& run)
{
    if (id.empty()) {
        id = LastRunId(folder);
        if (id.empty()) {
            std::string why;
            struct stat st;
            if (lstat(folder.c_str(), &st) == 0 && OpenJournalFolder(folder, false, why) < 0) {
                report.Error(why);
                return kSomeFailed;
            }
            report.Error("no run to undo in " + folder);
            return kBadUsage;
        }
    }
    std::string why;
    switch (run.Open(folder, id, why)) {
    case 1: return 0;
    case 0: report.Error("no run " + id + " in " + folder); return kBadUsage;
    case -1: report.Error("run " + id + " is in use by another mp3tavoly-rename"); return kSomeFailed;
    case -3: report.Error("run " + id + " is not a journal of mp3tavoly-rename"); return kSomeFailed;
    case -4: report.Error(why); return kSomeFailed;
    default: report.Error("cannot read run " + id + ": " + std::strerror(errno)); return kSomeFailed;
    }
}

int Undo(const Options& options)
{
    CReport report(options.tsv, options.quiet);
    CRunFile run;
    if (const int status = OpenRun(report, JournalFolder(), options.run, run))
        return status;
    const std::string& id = run.Id();
    if (run.Forgotten()) {
        report.Error("run " + id + " was given up (--forget); nothing to undo");
        return kBadUsage;
    }
    if (run.Closed()) {
        report.Error("run " + id + " was undone already");
        return kBadUsage;
    }
    int undone = 0;
    bool outOfMemory = false;
    try {
        undone = UndoRun(run, options.trial, report);
    } catch (const std::bad_alloc&) {
        outOfMemory = true;
        run.Flush();
    }
    if (outOfMemory)
        report.Error("out of memory; stopped");
    if (undone < 0)
        report.Error("cannot mark the files moved back in run " + id + ": " + std::strerror(errno));
    std::string note = options.trial ? "; dry run, nothing changed" : "; run " + id;
    const std::size_t left = run.Left();
    if (!options.trial && !run.Closed())
        note += "; " + std::to_string(left) + (left == 1 ? " file" : " files")
                + " not back yet (again: mp3tavoly-rename --undo " + id + ")";
    if (!run.Damaged().empty())
        note += "; " + std::to_string(run.Damaged().size()) + " damaged journal "
                + (run.Damaged().size() == 1 ? "record" : "records");
    if (g_stopSignal != 0)
        note += "; stopped by a signal";
    report.Summary("moved back", note, undone < 0 || outOfMemory);
    const bool written = report.Flush();
    if (StopStatus() != 0)
        return StopStatus();
    if (outOfMemory)
        return kBadUsage;
    const bool open = options.trial ? report.Failed() > 0 : !run.Closed();
    return open || report.Failed() > 0 || undone < 0 || !written ? kSomeFailed : kOk;
}

int Forget(const Options& options)
{
    CReport report(false, true);
    CRunFile run;
    if (const int status = OpenRun(report, JournalFolder(), options.run, run))
        return status;
    if (run.Forgotten() || run.Closed()) {
        report.Error("run " + run.Id() + " is closed already");
        return kBadUsage;
    }
    const std::size_t left = run.Left();
    if (!run.Forget()) {
        report.Error("cannot mark run " + run.Id() + " given up: " + std::strerror(errno));
        return kSomeFailed;
    }
    std::fprintf(stderr, "run %s given up: %zu %s left under %s new %s\n", run.Id().c_str(), left,
                 left == 1 ? "file" : "files", left == 1 ? "its" : "their", left == 1 ? "name" : "names");
    return kOk;
}

// A run's state as --runs shows it: "" while nothing of it is undone.
std::string RunState(const RunSummary& run)
{
    if (!run.problem.empty())
        return "unreadable: " + run.problem;
    if (run.forgotten)
        return "given up";
    if (run.closed)
        return "undone";
    if (run.left < run.count)
        return "partly undone, " + std::to_string(run.left) + " left";
    return std::string();
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
        const std::string state = RunState(run);
        const std::string damaged = std::to_string(run.damaged);
        if (options.tsv) {
            out += run.id + '\t' + time + '\t' + count + '\t';
            AppendTsvField(out, run.firstPath);
            out += '\t';
            AppendTsvField(out, state);
            out += '\t' + damaged + (run.window ? "\twindow\n" : "\tcommand\n");
        } else {
            out += run.id + "  " + time + "  " + count + (run.count == 1 ? " file" : " files")
                   + (run.window ? " by the window  " : "  ");
            AppendReadable(out, run.firstPath);
            if (!state.empty())
                out += "  (" + state + ")";
            if (run.damaged > 0)
                out += "  (" + damaged + (run.damaged == 1 ? " damaged record)" : " damaged records)");
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
    Options options;
    if (const int status = Parse(argc, argv, options))
        return status;
    switch (options.mode) {
    case Options::Help:
        std::fputs(kUsage, stdout);
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
