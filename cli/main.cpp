// mp3tavoly-rename: the program's Auto-Rename without a window, with a
// journal that undoes any past run. Parses its arguments, calls the library,
// prints.
#include "cli/Report.h"

#include "core/Journal.h"
#include "core/RenameBatch.h"
#include "core/Settings.h"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <vector>

namespace {

enum { kOk = 0, kSomeFailed = 1, kBadUsage = 2 };

const char kUsage[] =
    "Usage: mp3tavoly-rename [-a | -t] [-n] [-q] [--tsv] PATH...\n"
    "       mp3tavoly-rename --undo [RUN] [-n] [-q] [--tsv]\n"
    "       mp3tavoly-rename --runs [--tsv]\n"
    "\n"
    "Renames MP3 files after the title in their ID3v1 tag, in their own folder,\n"
    "never replacing another file, as Mp3 Tavoly's Auto-Rename does. Folders are\n"
    "searched with all their sub-folders. Every run is kept in a journal and can\n"
    "be undone later.\n"
    "\n"
    "  -a             name files \"Artist - Title.mp3\"\n"
    "  -t             name files \"Title.mp3\"\n"
    "                 (without either: the setting of the Mp3 Tavoly program)\n"
    "  -n, --dry-run  change nothing; print what would happen\n"
    "  -q, --quiet    no progress line, no summary\n"
    "      --tsv      tab-separated lines: state, path, new name\n"
    "                 (\\\\ \\t \\n \\r escaped)\n"
    "      --undo [RUN]\n"
    "                 move the files of the last run (or of RUN) back\n"
    "      --runs     list the runs: id, time, files renamed, first path\n"
    "  -h, --help     show this help\n"
    "      --version  show the version\n"
    "\n"
    "Exit status: 0 every file renamed or already named right; 1 some file failed;\n"
    "2 bad usage or a PATH that does not exist; 130 stopped by Ctrl+C.\n"
    "Journal: $XDG_STATE_HOME/mp3tavoly (default ~/.local/state/mp3tavoly).\n";

struct Options
{
    enum Mode { Rename, Undo, Runs, Help, Version } mode = Rename;
    int artistFirst = -1;   // -1: the program's setting
    bool trial = false;
    bool quiet = false;
    bool tsv = false;
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
    bool undo = false, runs = false, optionsEnd = false;
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
        } else if (arg == "--undo") {
            undo = true;
        } else if (arg.compare(0, 7, "--undo=") == 0) {
            undo = true;
            operands.push_back(arg.substr(7));
        } else if (arg == "--runs") {
            runs = true;
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
                case 'n': options.trial = true; break;
                case 'q': options.quiet = true; break;
                case 'h': options.mode = Options::Help; return 0;
                default: return UsageError(std::string("unknown option '-") + arg[k] + "'");
                }
            }
        }
    }
    if (undo && runs)
        return UsageError("--undo and --runs exclude each other");
    if ((undo || runs) && options.artistFirst >= 0)
        return UsageError("-a and -t are for renaming");
    if (runs) {
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
}

int StopStatus()
{
    return g_stopSignal != 0 ? 128 + g_stopSignal : 0;
}

std::string RunNote(const std::string& id)
{
    return id.empty() ? std::string() : "; run " + id + " (undo: mp3tavoly-rename --undo " + id + ")";
}

int Rename(const Options& options)
{
    CReport report(options.tsv, options.quiet);
    int status = kOk;
    CRenameBatch batch;
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
    CRunJournal journal(JournalFolder());
    if (!options.trial && journal.Folder().empty()) {
        report.Error("no home folder for the journal; set XDG_STATE_HOME");
        return kSomeFailed;
    }
    int performed = 0;
    if (g_stopSignal == 0 && batch.ReadNames(artistFirst, report))
        performed = batch.Perform(options.trial ? nullptr : &journal, report);
    if (performed < 0) {
        const int err = errno;
        report.Error("cannot write the journal in " + journal.Folder() + ": " + std::strerror(err)
                     + "; stopped");
    }
    if (!journal.Finish())
        report.Error("cannot write the journal in " + journal.Folder() + ": " + std::strerror(errno));
    std::string note = options.trial ? "; dry run, nothing changed" : RunNote(journal.Id());
    if (g_stopSignal != 0)
        note += "; stopped by a signal";
    report.Summary("renamed", note);
    if (!report.Flush()) {
        report.Error(std::string("cannot write the output: ") + std::strerror(errno));
        status = std::max(status, static_cast<int>(kSomeFailed));
    }
    if (StopStatus() != 0)
        return StopStatus();
    if (status == kOk && (report.Failed() > 0 || report.Unopened() > 0 || performed < 0))
        status = kSomeFailed;
    return status;
}

int Undo(const Options& options)
{
    CReport report(options.tsv, options.quiet);
    const std::string folder = JournalFolder();
    std::string id = options.run;
    if (id.empty()) {
        const std::vector<RunSummary> runs = ListRuns(folder);
        if (runs.empty()) {
            report.Error("no run to undo in " + folder);
            return kBadUsage;
        }
        id = runs.back().id;
    }
    CRunFile run;
    switch (run.Open(folder, id)) {
    case 1: break;
    case 0: report.Error("no run " + id + " in " + folder); return kBadUsage;
    case -1: report.Error("run " + id + " is in use by another mp3tavoly-rename"); return kSomeFailed;
    case -3: report.Error("run " + id + " is not a journal of mp3tavoly-rename"); return kSomeFailed;
    default: report.Error("cannot read run " + id + ": " + std::strerror(errno)); return kSomeFailed;
    }
    if (run.Undone()) {
        report.Error("run " + id + " was undone already");
        return kBadUsage;
    }
    const int undone = UndoRun(run, options.trial, report);
    if (undone < 0)
        report.Error("cannot mark run " + id + " undone: " + std::strerror(errno));
    std::string note = options.trial ? "; dry run, nothing changed" : "; run " + id;
    if (g_stopSignal != 0)
        note += "; stopped by a signal, run " + id + " is not undone yet";
    report.Summary("moved back", note);
    const bool written = report.Flush();
    if (StopStatus() != 0)
        return StopStatus();
    return report.Failed() > 0 || undone < 0 || !written ? kSomeFailed : kOk;
}

int Runs(const Options& options)
{
    std::string out;
    for (const RunSummary& run : ListRuns(JournalFolder())) {
        char time[32] = "";
        std::tm local;
        if (localtime_r(&run.started, &local) != nullptr)
            std::strftime(time, sizeof time, "%Y-%m-%d %H:%M:%S", &local);
        const std::string count = std::to_string(run.count);
        if (options.tsv) {
            out += run.id + '\t' + time + '\t' + count + '\t';
            AppendTsvField(out, run.firstPath);
            out += run.undone ? "\tundone\n" : "\t\n";
        } else {
            out += run.id + "  " + time + "  " + count + (run.count == 1 ? " file  " : " files  ");
            AppendReadable(out, run.firstPath);
            out += run.undone ? "  (undone)\n" : "\n";
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
    default:
        break;
    }
    CatchStopSignals();
    return options.mode == Options::Undo ? Undo(options) : Rename(options);
}
