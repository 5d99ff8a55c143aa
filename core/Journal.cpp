#include "core/Journal.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kHeader[] = "mp3tavoly-rename journal 1\n";
const char kPrefix[] = "run-";

// Makes folder and the folders above it that are missing.
bool MakeFolders(const std::string& folder)
{
    for (std::size_t slash = 1; slash != std::string::npos;) {
        slash = folder.find('/', slash + 1);
        const std::string part = folder.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

// The id of a journal's file name, or 0 when the name is not one.
unsigned long IdOf(const char* name)
{
    const std::size_t prefix = sizeof kPrefix - 1;
    if (std::char_traits<char>::compare(name, kPrefix, prefix) != 0)
        return 0;
    name += prefix;
    if (*name < '1' || *name > '9')
        return 0;
    char* end = nullptr;
    const unsigned long id = std::strtoul(name, &end, 10);
    return *end == '\0' ? id : 0;
}

std::vector<unsigned long> RunIds(const std::string& folder)
{
    std::vector<unsigned long> ids;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr)
        return ids;
    while (const dirent* entry = readdir(dir)) {
        if (const unsigned long id = IdOf(entry->d_name))
            ids.push_back(id);
    }
    closedir(dir);
    std::sort(ids.begin(), ids.end());
    return ids;
}

bool WriteAll(int fd, const char* data, std::size_t length)
{
    while (length > 0) {
        const ssize_t n = write(fd, data, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

bool ReadWhole(int fd, std::string& bytes)
{
    bytes.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
}

// Reads a journal's records. A record cut short at the end (the run was
// killed while writing it) is left out: its move had not begun. end is where
// the whole records end.
bool Parse(const std::string& bytes, std::time_t& started, std::vector<RunMove>& moves,
           bool& undone, std::size_t& end)
{
    const std::size_t header = sizeof kHeader - 1;
    if (bytes.compare(0, header, kHeader) != 0)
        return false;
    const std::size_t eol = bytes.find('\n', header);
    if (eol == std::string::npos)
        return false;
    started = static_cast<std::time_t>(std::strtoll(bytes.c_str() + header, nullptr, 10));
    moves.clear();
    undone = false;
    const std::string_view all(bytes);
    std::size_t at = eol + 1;
    while (at < bytes.size()) {
        const char type = bytes[at];
        if (type == 'M') {
            const std::size_t a = bytes.find('\0', at + 1);
            const std::size_t b = a == std::string::npos ? a : bytes.find('\0', a + 1);
            if (b == std::string::npos)
                break;
            moves.push_back(RunMove{all.substr(at + 1, a - at - 1), all.substr(a + 1, b - a - 1)});
            at = b + 1;
        } else if ((type == 'F' || type == 'U') && at + 1 < bytes.size() && bytes[at + 1] == '\0') {
            if (type == 'U')
                undone = true;
            else if (!moves.empty())
                moves.pop_back();
            at += 2;
        } else {
            break;
        }
    }
    end = std::min(at, bytes.size());
    return true;
}

double SecondsSince(const std::timespec& then)
{
    std::timespec now;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return static_cast<double>(now.tv_sec - then.tv_sec)
           + static_cast<double>(now.tv_nsec - then.tv_nsec) / 1e9;
}

} // namespace

std::string JournalFolder()
{
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/')
        return std::string(state) + "/mp3tavoly";
    std::string home;
    if (const char* env = std::getenv("HOME"); env != nullptr && env[0] == '/')
        home = env;
    else if (const passwd* user = getpwuid(getuid()); user != nullptr && user->pw_dir != nullptr)
        home = user->pw_dir;
    if (home.empty())
        return std::string();
    if (home.back() == '/')
        home.pop_back();
    return home + "/.local/state/mp3tavoly";
}

CRunJournal::CRunJournal(std::string folder) : m_folder(std::move(folder)) {}

CRunJournal::~CRunJournal()
{
    Finish();
}

int CRunJournal::Create()
{
    if (m_folder.empty() || m_folder[0] != '/') {
        errno = ENOENT;
        return 0;
    }
    if (!MakeFolders(m_folder))
        return 0;
    const std::vector<unsigned long> ids = RunIds(m_folder);
    unsigned long id = ids.empty() ? 1 : ids.back() + 1;
    for (int tries = 0;; ++id, ++tries) {
        const std::string path = m_folder + "/" + kPrefix + std::to_string(id);
        m_fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600);
        if (m_fd >= 0)
            break;
        if (errno != EEXIST || tries == 1000)
            return 0;
    }
    m_id = std::to_string(id);
    // Held before the header is written: an undo that opened the fresh file
    // first finds no header, gives up and lets go; it never undoes a live run.
    flock(m_fd, LOCK_EX);
    const std::string header = kHeader + std::to_string(static_cast<long long>(std::time(nullptr))) + "\n";
    if (!WriteAll(m_fd, header.data(), header.size())) {
        const int err = errno;
        unlink((m_folder + "/" + kPrefix + m_id).c_str());
        close(m_fd);
        m_fd = -1;
        m_id.clear();
        errno = err;
        return 0;
    }
    m_size = static_cast<long long>(header.size());
    // The new name must outlive a crash as well as the records.
    const int dir = open(m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    clock_gettime(CLOCK_MONOTONIC_COARSE, &m_synced);
    return 1;
}

int CRunJournal::Append(const std::string& record)
{
    if (!WriteAll(m_fd, record.data(), record.size())) {
        const int err = errno;
        // A partial record would spoil the ones after it.
        if (ftruncate(m_fd, static_cast<off_t>(m_size)) != 0) {
            // The reader stops at a broken record; nothing more to do.
        }
        errno = err;
        return 0;
    }
    m_size += static_cast<long long>(record.size());
    // Safe against a killed program at once; against a power cut, once a second.
    if (SecondsSince(m_synced) >= 1.0) {
        fdatasync(m_fd);
        clock_gettime(CLOCK_MONOTONIC_COARSE, &m_synced);
    }
    return 1;
}

int CRunJournal::RecordMove(const std::string& oldPath, const std::string& newName)
{
    if (m_fd < 0 && !Create())
        return 0;
    std::string record;
    record.reserve(oldPath.size() + newName.size() + 3);
    record += 'M';
    record += oldPath;
    record += '\0';
    record += newName;
    record += '\0';
    if (!Append(record))
        return 0;
    ++m_moved;
    return 1;
}

int CRunJournal::RecordFailed()
{
    if (m_fd < 0 || !Append(std::string("F", 2)))
        return 0;
    --m_moved;
    return 1;
}

int CRunJournal::Finish()
{
    if (m_fd < 0)
        return 1;
    int ok = 1;
    if (m_moved == 0) {
        unlink((m_folder + "/" + kPrefix + m_id).c_str());
        m_id.clear();
    } else if (fdatasync(m_fd) != 0) {
        ok = 0;
    }
    if (close(m_fd) != 0)
        ok = 0;
    m_fd = -1;
    return ok;
}

CRunFile::~CRunFile()
{
    if (m_fd >= 0)
        close(m_fd);
}

int CRunFile::Open(const std::string& folder, const std::string& id)
{
    const std::string name = kPrefix + id;
    if (IdOf(name.c_str()) == 0 || folder.empty())
        return 0;
    m_fd = open((folder + "/" + name).c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
    if (m_fd < 0)
        return errno == ENOENT ? 0 : -2;
    if (flock(m_fd, LOCK_EX | LOCK_NB) != 0)
        return errno == EWOULDBLOCK ? -1 : -2;
    std::time_t started = 0;
    if (!ReadWhole(m_fd, m_bytes))
        return -2;
    if (!Parse(m_bytes, started, m_moves, m_undone, m_end))
        return -3;
    m_id = id;
    return 1;
}

int CRunFile::MarkUndone()
{
    if (m_fd < 0)
        return 0;
    // A torn record at the end would hide the mark from every reader.
    if (m_end < m_bytes.size() && ftruncate(m_fd, static_cast<off_t>(m_end)) != 0)
        return 0;
    if (!WriteAll(m_fd, "U", 2) || fdatasync(m_fd) != 0)
        return 0;
    m_undone = true;
    return 1;
}

std::vector<RunSummary> ListRuns(const std::string& folder)
{
    std::vector<RunSummary> runs;
    for (const unsigned long id : RunIds(folder)) {
        RunSummary run;
        run.id = std::to_string(id);
        const int fd = open((folder + "/" + kPrefix + run.id).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        std::string bytes;
        std::vector<RunMove> moves;
        std::size_t end = 0;
        const bool ok = ReadWhole(fd, bytes) && Parse(bytes, run.started, moves, run.undone, end);
        close(fd);
        if (!ok)
            continue;
        run.count = moves.size();
        if (!moves.empty())
            run.firstPath = std::string(moves.front().oldPath);
        runs.push_back(std::move(run));
    }
    return runs;
}
