// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Journal.h"

#include "core/TextCodec.h"
#include "core/Translate.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

#if defined(__x86_64__)
#include <nmmintrin.h>
#endif

namespace {

const char kHeader1[] = "mp3tavoly-rename journal 1\n";
const char kHeader2[] = "mp3tavoly-rename journal 2\n";
const char kPrefix[] = "run-";
// After the start time on the header's second line: a run of the window
// program. Readers before it stop at the number and ignore the rest.
const char kWindowMark[] = " window";

// A frame: two zero bytes, the type letter, the payload's length and the
// CRC-32C of type, length and payload as 8 hex digits each, then the payload:
// fields, each ended by a zero byte and none empty. So two zero bytes never
// stand inside a payload, and a reader finds the next frame after damage.
constexpr std::size_t kFrameHead = 2 + 1 + 8 + 8;
constexpr std::size_t kMaxPayload = 1 << 24;
// Marks are written together once this many bytes wait.
constexpr std::size_t kMarkBatch = 1 << 16;

std::uint32_t Crc32cTable(const unsigned char* data, std::size_t length, std::uint32_t crc)
{
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? (c >> 1) ^ 0x82F63B78u : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    for (std::size_t i = 0; i < length; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

#if defined(__x86_64__)
// The processor's own CRC-32C: an undo reads every record of its journal
// once, and the table costs a quarter of its time in user space.
__attribute__((target("sse4.2"))) std::uint32_t Crc32cSse42(const unsigned char* data, std::size_t length,
                                                            std::uint32_t crc)
{
    std::uint64_t wide = crc;
    for (; length >= 8; length -= 8, data += 8) {
        std::uint64_t word;
        std::memcpy(&word, data, 8);
        wide = _mm_crc32_u64(wide, word);
    }
    crc = static_cast<std::uint32_t>(wide);
    for (; length > 0; --length, ++data)
        crc = _mm_crc32_u8(crc, *data);
    return crc;
}
#endif

std::uint32_t Crc32c(const char* data, std::size_t length, std::uint32_t crc = 0)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
#if defined(__x86_64__)
    static const bool hardware = __builtin_cpu_supports("sse4.2");
    if (hardware)
        return ~Crc32cSse42(bytes, length, ~crc);
#endif
    return ~Crc32cTable(bytes, length, ~crc);
}

void AppendHex8(std::string& out, std::uint32_t value)
{
    static const char kDigits[] = "0123456789abcdef";
    for (int shift = 28; shift >= 0; shift -= 4)
        out += kDigits[(value >> shift) & 15];
}

bool ParseHex8(const char* text, std::uint32_t& value)
{
    value = 0;
    for (int i = 0; i < 8; ++i) {
        const char c = text[i];
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0)
            return false;
        value = value << 4 | static_cast<std::uint32_t>(digit);
    }
    return true;
}

void AddField(std::string& payload, std::string_view field)
{
    payload.append(field.data(), field.size());
    payload += '\0';
}

void AddNumber(std::string& payload, std::uint64_t number)
{
    AddField(payload, std::to_string(number));
}

void AppendFrame(std::string& out, char type, const std::string& payload)
{
    std::string head(1, type);
    AppendHex8(head, static_cast<std::uint32_t>(payload.size()));
    const std::uint32_t crc = Crc32c(payload.data(), payload.size(), Crc32c(head.data(), head.size()));
    out.append(2, '\0');
    out += head;
    AppendHex8(out, crc);
    out += payload;
}

enum class FrameCheck { Whole, Short, Bad };

// Whether a whole, sound frame starts at at; Short when the bytes end before
// the frame they begin would.
FrameCheck CheckFrame(const std::string& bytes, std::size_t at, char& type, std::string_view& payload)
{
    const std::size_t left = bytes.size() - at;
    if (bytes[at] != '\0' || (left > 1 && bytes[at + 1] != '\0'))
        return FrameCheck::Bad;
    if (left < kFrameHead)
        return FrameCheck::Short;
    type = bytes[at + 2];
    std::uint32_t length = 0, crc = 0;
    if (type < 'A' || type > 'Z' || !ParseHex8(bytes.data() + at + 3, length)
        || !ParseHex8(bytes.data() + at + 11, crc) || length > kMaxPayload)
        return FrameCheck::Bad;
    if (left - kFrameHead < length)
        return FrameCheck::Short;
    const char* data = bytes.data() + at + kFrameHead;
    if (Crc32c(data, length, Crc32c(bytes.data() + at + 2, 9)) != crc)
        return FrameCheck::Bad;
    payload = std::string_view(data, length);
    return FrameCheck::Whole;
}

// A payload's fields; false when it is not fields ended by zero bytes.
bool SplitFields(std::string_view payload, std::vector<std::string_view>& fields)
{
    fields.clear();
    while (!payload.empty()) {
        const std::size_t end = payload.find('\0');
        if (end == std::string_view::npos || end == 0)
            return false;
        fields.push_back(payload.substr(0, end));
        payload.remove_prefix(end + 1);
    }
    return true;
}

bool ParseNumber(std::string_view text, std::uint64_t& number)
{
    if (text.empty() || text.size() > 20)
        return false;
    number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        const std::uint64_t next = number * 10 + static_cast<std::uint64_t>(c - '0');
        if (next / 10 != number)
            return false;
        number = next;
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
    errno = 0;
    const unsigned long id = std::strtoul(name, &end, 10);
    return *end == '\0' && errno == 0 ? id : 0;
}

std::vector<unsigned long> RunIds(int folder)
{
    std::vector<unsigned long> ids;
    const int fd = dup(folder);
    DIR* dir = fd < 0 ? nullptr : fdopendir(fd);
    if (dir == nullptr) {
        if (fd >= 0)
            close(fd);
        return ids;
    }
    rewinddir(dir);   // the copy shares its offset with the folder's descriptor
    while (const dirent* entry = readdir(dir)) {
        if (const unsigned long id = IdOf(entry->d_name))
            ids.push_back(id);
    }
    closedir(dir);
    std::sort(ids.begin(), ids.end());
    return ids;
}

bool WriteAll(int fd, const char* data, std::size_t length, std::size_t& written)
{
    written = 0;
    while (length > 0) {
        const ssize_t n = write(fd, data, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        data += n;
        length -= static_cast<std::size_t>(n);
        written += static_cast<std::size_t>(n);
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

double SecondsSince(const std::timespec& then)
{
    std::timespec now;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return static_cast<double>(now.tv_sec - then.tv_sec)
           + static_cast<double>(now.tv_nsec - then.tv_nsec) / 1e9;
}

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

// Why a journal folder or file may not be used, or "" when it may: others
// could have written what it holds (as ssh judges its own folder). In the
// user's language, or in English for --runs' machine-readable state.
std::string Distrust(const struct stat& st, bool translated = true)
{
    if (st.st_uid != geteuid()) {
        // TRANSLATORS: completes "the journal folder PATH ..." or "PATH ...";
        // the numbers are user ids.
        const char* text = N_("is owned by user %u, not by the user running this (%u)");
        return FormatText(translated ? Tr(text) : text, static_cast<unsigned>(st.st_uid),
                          static_cast<unsigned>(geteuid()));
    }
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        // TRANSLATORS: completes "the journal folder PATH ..." or "PATH ...".
        const char* text = N_("can be written by other users");
        return translated ? Tr(text) : text;
    }
    return std::string();
}

// Opens a journal file of the checked folder: a regular file, not a link,
// that only the user could have written. -1 with errno; -2 refused (why).
int OpenRunFile(int folder, const std::string& name, int flags, std::string& why, bool translated = true)
{
    const int fd = openat(folder, name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ELOOP) {
            // TRANSLATORS: completes "PATH ...; refusing to use it".
            why = translated ? Tr("is a link") : "is a link";
            return -2;
        }
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        const int err = errno;
        close(fd);
        errno = err;
        return -1;
    }
    // TRANSLATORS: completes "PATH ...; refusing to use it".
    why = S_ISREG(st.st_mode) ? Distrust(st, translated) : translated ? Tr("is not a regular file") : "is not a regular file";
    if (!why.empty()) {
        close(fd);
        return -2;
    }
    return fd;
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

std::string CannotWriteJournal(const std::string& folder, int err)
{
    const int saved = errno;
    std::string why = FormatText(Tr("cannot write the journal in %s: %s"), DisplayableUtf8(folder).c_str(),
                                 std::strerror(err));
    errno = saved;
    return why;
}

int OpenJournalFolder(const std::string& folder, bool create, std::string& why)
{
    if (folder.empty() || folder[0] != '/') {
        why = Tr("no home folder for the journal; set XDG_STATE_HOME");
        return -1;
    }
    if (create && !MakeFolders(folder)) {
        why = CannotWriteJournal(folder, errno);
        return -1;
    }
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        struct stat st;
        const int err = errno == ENOTDIR && lstat(folder.c_str(), &st) == 0 && S_ISLNK(st.st_mode) ? ELOOP : errno;
        why = err == ELOOP ? FormatText(Tr("the journal folder %s is a link; refusing to use it"),
                                        DisplayableUtf8(folder).c_str())
                           : CannotWriteJournal(folder, err);
        errno = err;
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        why = CannotWriteJournal(folder, errno);
        close(fd);
        return -1;
    }
    const std::string distrust = Distrust(st);
    if (!distrust.empty()) {
        // TRANSLATORS: the second %s is "is owned by user ..." or "can be
        // written by other users".
        why = FormatText(Tr("the journal folder %s %s; refusing to use it"), DisplayableUtf8(folder).c_str(),
                         distrust.c_str());
        close(fd);
        errno = EPERM;
        return -1;
    }
    return fd;
}

int CheckJournalFolder(const std::string& folder, std::string& why)
{
    std::string existing = folder;
    struct stat st;
    while (!existing.empty() && lstat(existing.c_str(), &st) != 0) {
        const std::size_t slash = existing.rfind('/');
        existing = slash == 0 ? "/" : existing.substr(0, slash == std::string::npos ? 0 : slash);
    }
    if (existing == folder) {
        const int fd = OpenJournalFolder(folder, false, why);
        if (fd < 0)
            return 0;
        const bool writable = faccessat(fd, ".", W_OK | X_OK, AT_EACCESS) == 0;
        const int err = errno;
        close(fd);
        if (!writable) {
            why = CannotWriteJournal(folder, err);
            return 0;
        }
        return 1;
    }
    if (folder.empty() || folder[0] != '/') {
        why = Tr("no home folder for the journal; set XDG_STATE_HOME");
        return 0;
    }
    // Missing: the run would make it in the nearest folder that exists.
    if (existing.empty() || !S_ISDIR(st.st_mode) || access(existing.c_str(), W_OK | X_OK) != 0) {
        const int err = existing.empty() || S_ISDIR(st.st_mode) ? errno : ENOTDIR;
        why = CannotWriteJournal(folder, err);
        return 0;
    }
    return 1;
}

CRunJournal::CRunJournal(std::string folder, bool window) : m_folder(std::move(folder)), m_window(window) {}

CRunJournal::~CRunJournal()
{
    Finish();
    if (m_folderFd >= 0)
        close(m_folderFd);
}

int CRunJournal::Prepare(std::string& why)
{
    if (m_folderFd < 0)
        m_folderFd = OpenJournalFolder(m_folder, true, why);
    return m_folderFd >= 0 ? 1 : 0;
}

int CRunJournal::Create()
{
    std::string why;
    if (!Prepare(why)) {
        if (errno == 0)
            errno = EPERM;
        return 0;
    }
    const std::vector<unsigned long> ids = RunIds(m_folderFd);
    unsigned long id = ids.empty() ? 1 : ids.back() + 1;
    for (int tries = 0;; ++id, ++tries) {
        const std::string name = kPrefix + std::to_string(id);
        m_fd = openat(m_folderFd, name.c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (m_fd >= 0)
            break;
        if (errno != EEXIST || tries == 1000)
            return 0;
    }
    m_id = std::to_string(id);
    // Held before the header is written: an undo that opened the fresh file
    // first finds no header, gives up and lets go; it never undoes a live run.
    flock(m_fd, LOCK_EX);
    const std::string header = kHeader2 + std::to_string(static_cast<long long>(std::time(nullptr)))
                               + (m_window ? kWindowMark : "") + "\n";
    std::size_t written = 0;
    if (!WriteAll(m_fd, header.data(), header.size(), written)) {
        const int err = errno;
        unlinkat(m_folderFd, (kPrefix + m_id).c_str(), 0);
        close(m_fd);
        m_fd = -1;
        m_id.clear();
        errno = err;
        return 0;
    }
    m_size = static_cast<long long>(header.size());
    // The new name must outlive a crash as well as the records.
    fsync(m_folderFd);
    clock_gettime(CLOCK_MONOTONIC_COARSE, &m_synced);
    return 1;
}

int CRunJournal::Append(const std::string& records)
{
    std::size_t written = 0;
    if (!WriteAll(m_fd, records.data(), records.size(), written)) {
        const int err = errno;
        // A run's own partial record is taken back: its move is not made.
        if (written > 0 && ftruncate(m_fd, static_cast<off_t>(m_size)) != 0) {
            // The reader takes a cut-off last record for one never finished.
        }
        errno = err;
        return 0;
    }
    m_size += static_cast<long long>(records.size());
    // Safe against a killed program at once; against a power cut, once a second.
    if (SecondsSince(m_synced) >= 1.0) {
        fdatasync(m_fd);
        clock_gettime(CLOCK_MONOTONIC_COARSE, &m_synced);
    }
    return 1;
}

std::uint64_t CRunJournal::QueueMove(const CFolderTable& table, std::uint32_t folder, const std::string& oldName,
                                    const std::string& newName, const FileId& file)
{
    std::string payload;
    // The folder and those above it that the journal does not know yet,
    // outermost first, ahead of the move.
    std::vector<std::uint32_t> missing;
    for (std::uint32_t at = folder; at != CFolderTable::kNone; at = table.Parent(at)) {
        if (at < m_folderWritten.size() && m_folderWritten[at])
            break;
        missing.push_back(at);
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        payload.clear();
        AddNumber(payload, *it);
        const std::uint32_t parent = table.Parent(*it);
        AddField(payload, parent == CFolderTable::kNone ? "-" : std::to_string(parent));
        AddField(payload, table.Name(*it));
        AddNumber(payload, table.Id(*it).device);
        AddNumber(payload, table.Id(*it).inode);
        AppendFrame(m_queued, 'D', payload);
        if (m_folderWritten.size() <= *it)
            m_folderWritten.resize(*it + 1, false);
        m_folderWritten[*it] = true;
    }
    payload.clear();
    AddNumber(payload, ++m_seq);
    AddNumber(payload, folder);
    AddField(payload, oldName);
    AddField(payload, newName);
    AddNumber(payload, file.device);
    AddNumber(payload, file.inode);
    AddNumber(payload, file.birth);
    AppendFrame(m_queued, 'M', payload);
    ++m_queuedMoves;
    return m_seq;
}

void CRunJournal::QueueFailed(std::uint64_t seq)
{
    std::string payload;
    AddNumber(payload, seq);
    AppendFrame(m_queued, 'F', payload);
    --m_moved;
}

int CRunJournal::WriteQueued()
{
    if (m_queued.empty())
        return 1;
    if (m_fd < 0 && !Create()) {
        const int err = errno;
        m_queued.clear();
        errno = err;
        return 0;
    }
    const int written = Append(m_queued);
    if (written)
        m_moved += m_queuedMoves;
    m_queued.clear();
    m_queuedMoves = 0;
    return written;
}

int CRunJournal::Finish()
{
    int ok = 1;
    if (m_fd >= 0 && !WriteQueued())
        ok = 0;
    m_queued.clear();
    m_queuedMoves = 0;
    if (m_fd < 0)
        return ok;
    if (m_moved == 0) {
        unlinkat(m_folderFd, (kPrefix + m_id).c_str(), 0);
        m_id.clear();
    } else if (fdatasync(m_fd) != 0) {
        ok = 0;
    }
    if (close(m_fd) != 0)
        ok = 0;
    m_fd = -1;
    return ok;
}

namespace {

// Reads a journal. Records that do not check are named in damaged and
// skipped; a record cut short at the very end (the run was killed while
// writing it) is left out silently: its move had not begun.
class CJournalReader
{
public:
    CJournalReader(const std::string& bytes, std::deque<RunMove>& moves, CFolderTable& folders,
                   std::vector<std::size_t>& damaged)
        : m_bytes(bytes), m_moves(moves), m_folders(folders), m_damaged(damaged)
    {
    }

    // 0 not a journal; else its version.
    int Read(std::time_t& started, std::size_t& torn, bool& forgotten, bool& legacyUndone, bool& window)
    {
        int version = 0;
        if (m_bytes.compare(0, sizeof kHeader2 - 1, kHeader2) == 0)
            version = 2;
        else if (m_bytes.compare(0, sizeof kHeader1 - 1, kHeader1) == 0)
            version = 1;
        else
            return 0;
        const std::size_t eol = m_bytes.find('\n', sizeof kHeader2 - 1);
        if (eol == std::string::npos)
            return 0;
        char* end = nullptr;
        started = static_cast<std::time_t>(std::strtoll(m_bytes.c_str() + sizeof kHeader2 - 1, &end, 10));
        const std::size_t after = static_cast<std::size_t>(end - m_bytes.c_str());
        window = after <= eol && m_bytes.compare(after, eol - after, kWindowMark) == 0;
        if (version == 1)
            ReadVersion1(eol + 1, torn, legacyUndone);
        else
            ReadVersion2(eol + 1, torn, forgotten);
        // Failed moves never happened: nothing to undo.
        m_moves.erase(std::remove_if(m_moves.begin(), m_moves.end(), [](const RunMove& move) { return move.failed; }),
                      m_moves.end());
        return version;
    }

private:
    void ReadVersion2(std::size_t at, std::size_t& torn, bool& forgotten)
    {
        std::vector<std::string_view> fields;
        while (at < m_bytes.size()) {
            char type = 0;
            std::string_view payload;
            const FrameCheck check = CheckFrame(m_bytes, at, type, payload);
            if (check == FrameCheck::Whole) {
                if (!SplitFields(payload, fields) || !Take(type, fields, at, forgotten))
                    m_damaged.push_back(at);
                at += kFrameHead + payload.size();
                continue;
            }
            const std::size_t next = NextFrame(at + 1);
            if (next == std::string::npos && check == FrameCheck::Short) {
                torn = at;
                return;
            }
            m_damaged.push_back(at);
            if (next == std::string::npos)
                return;
            at = next;
        }
    }

    std::size_t NextFrame(std::size_t from) const
    {
        char type;
        std::string_view payload;
        for (std::size_t at = m_bytes.find(std::string(2, '\0'), from); at != std::string::npos;
             at = m_bytes.find(std::string(2, '\0'), at + 1)) {
            if (CheckFrame(m_bytes, at, type, payload) == FrameCheck::Whole)
                return at;
        }
        return std::string::npos;
    }

    bool Take(char type, const std::vector<std::string_view>& f, std::size_t at, bool& forgotten)
    {
        std::uint64_t a = 0, b = 0, c = 0, d = 0;
        switch (type) {
        case 'D': {
            if (f.size() != 5 || !ParseNumber(f[0], a) || !ParseNumber(f[3], c) || !ParseNumber(f[4], d))
                return false;
            const std::string name(f[2]);
            std::uint32_t parent = CFolderTable::kNone;
            if (f[1] == "-") {
                if (name[0] != '/')
                    return false;
            } else {
                const auto it = ParseNumber(f[1], b) ? m_folderIds.find(b) : m_folderIds.end();
                if (it == m_folderIds.end() || !IsPlainName(name))
                    return false;
                parent = it->second;
            }
            const FileId id{c, d};
            const std::uint32_t index = parent == CFolderTable::kNone ? m_folders.AddRoot(name, id)
                                                                      : m_folders.AddChild(parent, name, id);
            m_folderIds[a] = index;
            return true;
        }
        case 'M': {
            std::uint64_t birth = 0;
            if (f.size() != 7 || !ParseNumber(f[0], a) || !ParseNumber(f[1], b) || !ParseNumber(f[4], c)
                || !ParseNumber(f[5], d) || !ParseNumber(f[6], birth))
                return false;
            const auto folder = m_folderIds.find(b);
            if (folder == m_folderIds.end() || !IsPlainName(f[2]) || !IsPlainName(f[3]))
                return false;
            // Numbers rise: a mark finds its move by a binary search.
            if (!m_moves.empty() && a <= m_moves.back().seq)
                return false;
            RunMove move;
            move.seq = a;
            move.folder = folder->second;
            move.oldName = f[2];
            move.newName = f[3];
            move.file = FileId{c, d, birth};
            m_moves.push_back(move);
            return true;
        }
        case 'F':
        case 'B': {
            if (f.size() != 1 || !ParseNumber(f[0], a))
                return false;
            const auto it = std::lower_bound(m_moves.begin(), m_moves.end(), a,
                                             [](const RunMove& move, std::uint64_t seq) { return move.seq < seq; });
            if (it == m_moves.end() || it->seq != a)
                return false;
            if (type == 'F')
                it->failed = true;
            else
                it->back = true;
            return true;
        }
        case 'T':
            // The bytes from the offset up to here were a record torn by a
            // crash, and then written after: no damage.
            if (f.size() != 1 || !ParseNumber(f[0], a))
                return false;
            if (!m_damaged.empty() && m_damaged.back() == a)
                m_damaged.pop_back();
            return a < at;
        case 'X':
            forgotten = true;
            return true;
        default:
            return false;   // unknown: a later version's, or damage; either way not understood
        }
    }

    void ReadVersion1(std::size_t at, std::size_t& torn, bool& undone)
    {
        const std::string_view all(m_bytes);
        while (at < m_bytes.size()) {
            const char type = m_bytes[at];
            if (type == 'M') {
                const std::size_t a = m_bytes.find('\0', at + 1);
                const std::size_t b = a == std::string::npos ? a : m_bytes.find('\0', a + 1);
                if (b == std::string::npos)
                    break;
                RunMove move;
                move.seq = m_moves.size() + 1;
                move.legacyPath = all.substr(at + 1, a - at - 1);
                move.newName = all.substr(a + 1, b - a - 1);
                const std::size_t slash = move.legacyPath.rfind('/');
                if (move.legacyPath.empty() || move.legacyPath[0] != '/' || !IsPlainName(move.newName)
                    || slash == std::string_view::npos || !IsPlainName(move.legacyPath.substr(slash + 1))) {
                    m_damaged.push_back(at);
                    return;   // no framing to find the next record by
                }
                move.oldName = move.legacyPath.substr(slash + 1);
                m_moves.push_back(move);
                at = b + 1;
            } else if ((type == 'F' || type == 'U') && at + 1 < m_bytes.size() && m_bytes[at + 1] == '\0') {
                if (type == 'U')
                    undone = true;
                else if (!m_moves.empty())
                    m_moves.pop_back();
                at += 2;
            } else {
                break;
            }
        }
        if (at < m_bytes.size())
            torn = at;
    }

    const std::string& m_bytes;
    std::deque<RunMove>& m_moves;
    CFolderTable& m_folders;
    std::vector<std::size_t>& m_damaged;
    std::map<std::uint64_t, std::uint32_t> m_folderIds;
};

} // namespace

CRunFile::~CRunFile()
{
    Flush();
    if (m_fd >= 0)
        close(m_fd);
}

int CRunFile::Open(const std::string& folder, const std::string& id, std::string& why)
{
    const std::string name = kPrefix + id;
    if (IdOf(name.c_str()) == 0 || folder.empty())
        return 0;
    struct stat st;
    if (lstat(folder.c_str(), &st) != 0 && errno == ENOENT)
        return 0;
    const int folderFd = OpenJournalFolder(folder, false, why);
    if (folderFd < 0)
        return errno == ENOENT ? 0 : -4;
    std::string fileWhy;
    m_fd = OpenRunFile(folderFd, name, O_RDWR | O_APPEND, fileWhy);
    const int err = errno;
    close(folderFd);
    if (m_fd == -2) {
        m_fd = -1;
        // TRANSLATORS: a journal file's path, then why: "is a link", "is not a
        // regular file", "is owned by user ..." or "can be written by other users".
        why = FormatText(Tr("%s %s; refusing to use it"), DisplayableUtf8(folder + "/" + name).c_str(),
                         fileWhy.c_str());
        return -4;
    }
    if (m_fd < 0) {
        errno = err;
        return err == ENOENT ? 0 : -2;
    }
    if (flock(m_fd, LOCK_EX | LOCK_NB) != 0)
        return errno == EWOULDBLOCK ? -1 : -2;
    if (!ReadWhole(m_fd, m_bytes))
        return -2;
    CJournalReader reader(m_bytes, m_moves, m_folders, m_damaged);
    bool window = false;   // --runs tells; an undo does the same either way
    m_version = reader.Read(m_started, m_torn, m_forgotten, m_legacyUndone, window);
    if (m_version == 0)
        return -3;
    m_id = id;
    m_path = folder + "/" + name;
    m_size = m_bytes.size();
    return 1;
}

std::size_t CRunFile::Left() const
{
    return static_cast<std::size_t>(
        std::count_if(m_moves.begin(), m_moves.end(), [](const RunMove& move) { return !move.back; }));
}

bool CRunFile::Closed() const
{
    if (m_forgotten || m_legacyUndone)
        return true;
    return Left() == 0 && m_damaged.empty();
}

int CRunFile::Append(const std::string& records)
{
    if (m_fd < 0)
        return 0;
    std::string out;
    if (m_torn != std::string::npos) {
        // Whatever follows a torn tail must not make it read as damage.
        std::string payload;
        AddNumber(payload, m_torn);
        AppendFrame(out, 'T', payload);
    }
    out += records;
    std::size_t written = 0;
    if (!WriteAll(m_fd, out.data(), out.size(), written)) {
        if (written > 0 && m_torn == std::string::npos)
            m_torn = m_size;   // cut short: the next write says so
        m_size += written;
        return 0;
    }
    m_size += written;
    m_torn = std::string::npos;
    return 1;
}

int CRunFile::MarkBack(RunMove& move)
{
    move.back = true;
    if (m_version != 2)
        return 1;   // version 1 has no such mark; the run is marked when all are back
    std::string payload;
    AddNumber(payload, move.seq);
    AppendFrame(m_pending, 'B', payload);
    if (m_pending.size() < kMarkBatch)
        return 1;
    return WriteMarks(false);
}

// Writes the marks waiting; to disk with sync, else once a second at most: a
// mark lost to a power cut only makes the next undo find that file under its
// old name.
int CRunFile::WriteMarks(bool sync)
{
    if (m_pending.empty() && !(sync && m_unsynced))
        return 1;
    const std::string pending = std::move(m_pending);
    m_pending.clear();
    if (!pending.empty()) {
        if (!Append(pending))
            return 0;
        m_unsynced = true;
    }
    if (!sync && SecondsSince(m_synced) < 1.0)
        return 1;
    if (fdatasync(m_fd) != 0)
        return sync ? 0 : 1;
    m_unsynced = false;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &m_synced);
    return 1;
}

int CRunFile::Flush()
{
    if (m_fd < 0)
        return 0;
    if (m_version == 1) {
        // Only what version 1 reads: one mark, after whole records only.
        if (m_legacyUndone || Left() != 0 || !m_damaged.empty() || m_torn != std::string::npos)
            return 1;
        std::size_t written = 0;
        if (!WriteAll(m_fd, "U", 2, written) || fdatasync(m_fd) != 0)
            return 0;
        m_legacyUndone = true;
        return 1;
    }
    return WriteMarks(true);
}

int CRunFile::Forget()
{
    if (m_version == 1) {
        if (m_torn != std::string::npos)
            return 0;   // version 1 would not read a mark after a torn record
        std::size_t written = 0;
        if (!WriteAll(m_fd, "U", 2, written) || fdatasync(m_fd) != 0)
            return 0;
        m_forgotten = true;
        return 1;
    }
    std::string payload, record;
    AddNumber(payload, static_cast<std::uint64_t>(std::time(nullptr)));
    AppendFrame(record, 'X', payload);
    if (!Flush() || !Append(record) || fdatasync(m_fd) != 0)
        return 0;
    m_forgotten = true;
    return 1;
}

std::string LastRunId(const std::string& folder)
{
    std::string why;
    struct stat st;
    if (lstat(folder.c_str(), &st) != 0)
        return {};
    const int folderFd = OpenJournalFolder(folder, false, why);
    if (folderFd < 0)
        return {};
    const std::vector<unsigned long> ids = RunIds(folderFd);
    close(folderFd);
    return ids.empty() ? std::string() : std::to_string(ids.back());
}

std::vector<RunSummary> ListRuns(const std::string& folder)
{
    std::vector<RunSummary> runs;
    std::string why;
    struct stat st;
    if (lstat(folder.c_str(), &st) != 0)
        return runs;
    const int folderFd = OpenJournalFolder(folder, false, why);
    if (folderFd < 0)
        return runs;
    for (const unsigned long id : RunIds(folderFd)) {
        RunSummary run;
        run.id = std::to_string(id);
        // The problem goes into --runs' machine-readable state: in English.
        const int fd = OpenRunFile(folderFd, kPrefix + run.id, O_RDONLY, why, false);
        if (fd < 0) {
            run.problem = fd == -2 ? why : EnglishErrorText(errno);
            runs.push_back(std::move(run));
            continue;
        }
        std::string bytes;
        std::deque<RunMove> moves;
        CFolderTable folders;
        std::vector<std::size_t> damaged;
        std::size_t torn = std::string::npos;
        bool legacyUndone = false;
        const bool read = ReadWhole(fd, bytes);
        close(fd);
        CJournalReader reader(bytes, moves, folders, damaged);
        if (!read || reader.Read(run.started, torn, run.forgotten, legacyUndone, run.window) == 0) {
            // TRANSLATORS: why a run of the journal cannot be read (--runs).
            run.problem = N_("not a journal");
            runs.push_back(std::move(run));
            continue;
        }
        run.count = moves.size();
        run.left = static_cast<std::size_t>(
            std::count_if(moves.begin(), moves.end(), [](const RunMove& move) { return !move.back; }));
        run.damaged = damaged.size();
        run.closed = run.forgotten || legacyUndone || (run.left == 0 && run.damaged == 0);
        if (!moves.empty()) {
            const RunMove& first = moves.front();
            run.firstPath = !first.legacyPath.empty()
                                ? std::string(first.legacyPath)
                                : folders.Path(first.folder) + "/" + std::string(first.oldName);
        }
        runs.push_back(std::move(run));
    }
    close(folderFd);
    return runs;
}
