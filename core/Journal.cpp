// SPDX-License-Identifier: GPL-3.0-or-later
// The journal's file format, and the rules its reader keeps.
//
// FILES. One file per run, run-N in the journal folder, N the run's id (1, 2,
// ... with no leading zero; a new run takes the highest id plus one). Made
// with mode 0600 and O_EXCL, and locked (flock, exclusive) before its first
// byte is written, for as long as the run writes it; an undo or --forget
// holds the same lock while it reads and appends. Only ever appended to:
// nothing in a journal is rewritten or cut off, except a run's own record
// cut short by a failed write, which the run takes back at once.
//
// HEADER. Two lines:
//     "mp3tavoly-rename journal V\n"     V the version: 1 or 2
//     "SECONDS[ window]\n"               start time, seconds since the epoch;
//                                        " window" in a run of the window program
// Both are written with the file's first write. A file that is empty, or
// that ends inside a header that is right so far, is a run killed at that
// write: it moved nothing, --runs lists it as empty, --undo passes over it
// and --forget removes it. A file whose first line names a version above 2
// was made by a newer program: it is listed as such and left alone (no undo,
// no forget, no mark appended). Anything else is not a journal.
//
// VERSION 2 FRAMES. After the header, frames and nothing else:
//     2 zero bytes | type: 1 byte, 'A'..'Z' | length: 8 lowercase hex digits |
//     crc: 8 lowercase hex digits | payload: length bytes
// crc is the CRC-32C (Castagnoli, as iSCSI: reflected 0x82F63B78, initial and
// final value all ones) of type, length digits and payload, that is of every
// byte but the two zeros and the crc itself. The payload is fields, each
// ended by one zero byte, none empty, so two zero bytes never stand inside a
// payload and a reader finds the next frame after damage by them. Numbers are
// decimal, names raw bytes (one path component each). A payload is at most
// kMaxPayload bytes. The record types (kRecord... below):
//     D  a folder: its id, its parent's id or "-" for a root, its name (for a
//        root its absolute path, without links), device, inode. Written
//        before the first move in it; ids are the writer's own.
//     M  a move: sequence number (rising within the file), folder id, old
//        name, new name, the file's device, inode and birth time (ns since
//        the epoch, 0 where the file system keeps none). Written, with the
//        rest of its batch, before the move is made; room for an F of each
//        is set aside with them (blocks by fallocate, and within the
//        file-size limit), so a failure mark is never lost for lack of room.
//        Where the file system takes neither rename flags nor hard links,
//        the move claims its new name with an empty placeholder first, and a
//        change of letter case alone goes by way of OLD.tavoly-case: the M
//        stands for those too, and an undo removes what a kill left of them.
//     F  sequence number: that move failed or was never tried, and left
//        nothing behind (a move that may have left a placeholder or a second
//        name, its file system gone before it answered, gets no F).
//     B  sequence number: that move is back under its old name (by an undo,
//        or found so by one).
//     T  byte offset: the bytes from there up to this frame are a record
//        torn by a crash or a failed write, not damage. Written first by
//        whoever appends after such bytes.
//     X  the run was given up (--forget); its field is the time.
//     I  a move's file known by content, where the folder's file system does
//        not keep inode numbers across a rename (FUSE, FAT, exFAT, SMB):
//        sequence number of an M read before it, the file's size, its
//        modification time in seconds ('-' before it when before 1970) and
//        nanoseconds, and the FNV-1a 64 hash of its last 128 bytes (of all
//        of a shorter file). Written right after its M, in the same batch.
//        An undo of that move compares these, read again through the folder
//        without following a link, instead of the inode. A reader that
//        skips I (see below) compares the inode, which such file systems do
//        not keep, and so refuses the move: safe, if not undone.
//
// VERSION 1 (read and undone, never written): after the header, records
// without framing: 'M' old full path \0 new name \0; 'F' \0 (the last move
// failed); 'U' \0 (the run is closed: undone in full, or given up). Nothing
// after a record that does not parse can be read. An undo appends only the
// U mark, and only when every move is back and nothing is damaged or torn.
//
// WHAT THE READER ENFORCES (version 2). A frame is whole when its two zero
// bytes, type letter, hex digits, length and crc all check; it is then used
// when its fields parse for its type: an M's number above the last M's, its
// folder a D read before it, each name a plain name; an F or B names an M
// read before it, an I one that has no I yet; a T's offset lies before the
// T. A whole frame that fails these is a damaged record. Bytes that begin no
// whole frame are damage up to the next whole frame, named by the offset
// where they begin; but a frame cut short by the end of the file, with no
// whole frame after it, is a torn tail (a run killed while writing), not
// damage. Whoever appends after a torn tail writes a T frame naming its
// offset first, and the reader takes back the damage it found from there on.
// A damaged record may have been a move: its file is unknown, and the run
// stays open until given up.
//
// RULES FOR LATER VERSIONS. A whole frame whose type letter this reader does
// not know is skipped, and is not damage: a later version may add record
// types to version 2, so long as a reader that skips them still undoes the
// run right (readers older than this rule count such a frame as damage and
// keep the run open). A change that an older reader must not misread takes a
// new version number in the header; this reader lists such a journal as made
// by a newer version and leaves it alone.
#include "core/Journal.h"

#include "core/TextCodec.h"
#include "core/Translate.h"

#include <algorithm>
#include <charconv>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <pwd.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

#if defined(__x86_64__)
#include <nmmintrin.h>
#endif

namespace {

// The header's first line, without its version number and newline.
const char kMagic[] = "mp3tavoly-rename journal ";
// The version this program writes; it reads it and version 1.
constexpr int kVersion = 2;
const char kPrefix[] = "run-";
// After the start time on the header's second line: a run of the window
// program. Readers before it stop at the number and ignore the rest.
const char kWindowMark[] = " window";

// Version 2's record types.
constexpr char kRecordFolder = 'D';
constexpr char kRecordMove = 'M';
constexpr char kRecordFailed = 'F';
constexpr char kRecordBack = 'B';
constexpr char kRecordTorn = 'T';
constexpr char kRecordGivenUp = 'X';
constexpr char kRecordContent = 'I';

// Version 1's records.
constexpr char kLegacyMove = 'M';
constexpr char kLegacyFailed = 'F';
constexpr char kLegacyUndone = 'U';

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
    char digits[8];
    for (int i = 0; i < 8; ++i)
        digits[i] = kDigits[(value >> (28 - 4 * i)) & 15];
    out.append(digits, sizeof digits);
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
    char digits[20];
    const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, number);
    AddField(payload, std::string_view(digits, static_cast<std::size_t>(end.ptr - digits)));
}

void AppendFrame(std::string& out, char type, const std::string& payload)
{
    // The head in place, so that nothing is allocated for it.
    const std::size_t at = out.size();
    out.append(2, '\0');
    out += type;
    AppendHex8(out, static_cast<std::uint32_t>(payload.size()));
    const std::uint32_t crc = Crc32c(payload.data(), payload.size(), Crc32c(out.data() + at + 2, out.size() - at - 2));
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
        // Checked without a division: one a digit cost as much as the rest
        // of the record.
        if (__builtin_mul_overflow(number, 10u, &number)
            || __builtin_add_overflow(number, static_cast<std::uint64_t>(c - '0'), &number))
            return false;
    }
    return true;
}

// A number that may have a '-' before it (a time before 1970).
bool ParseSigned(std::string_view text, std::int64_t& number)
{
    const bool negative = !text.empty() && text[0] == '-';
    std::uint64_t magnitude = 0;
    if (!ParseNumber(negative ? text.substr(1) : text, magnitude) || magnitude > 0x7FFFFFFFFFFFFFFFull)
        return false;
    number = negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
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

CRunRecorder::CRunRecorder(std::string folder, bool window) : m_folder(std::move(folder)), m_window(window) {}

CRunRecorder::~CRunRecorder()
{
    (void)Finish();   // a caller that wants the result finishes first; here nobody is left to tell
    if (m_folderFd >= 0)
        close(m_folderFd);
}

void CRunRecorder::Keep(int err)
{
    if (m_error == 0)
        m_error = err != 0 ? err : EIO;
}

int CRunRecorder::Prepare(std::string& why)
{
    if (m_folderFd < 0)
        m_folderFd = OpenJournalFolder(m_folder, true, why);
    return m_folderFd >= 0 ? 1 : 0;
}

int CRunRecorder::Create()
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
        if (tries > 1000) {
            errno = EEXIST;
            return 0;
        }
        const std::string name = kPrefix + std::to_string(id);
        m_fd = openat(m_folderFd, name.c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (m_fd < 0) {
            if (errno != EEXIST)
                return 0;
            continue;
        }
        // Held before the header is written: an undo that opened the fresh
        // file first finds it empty, passes over it and lets go; it never
        // undoes a live run.
        int locked;
        while ((locked = flock(m_fd, LOCK_EX)) != 0 && errno == EINTR) {
        }
        if (locked != 0) {
            Keep(errno);   // the run goes on unlocked; its summary tells
            break;
        }
        // A --forget that locked the empty file first has removed it.
        struct stat st;
        if (fstat(m_fd, &st) == 0 && st.st_nlink == 0) {
            close(m_fd);
            m_fd = -1;
            continue;
        }
        break;
    }
    m_id = std::to_string(id);
    const std::string header = kMagic + std::to_string(kVersion) + "\n"
                               + std::to_string(static_cast<long long>(std::time(nullptr)))
                               + (m_window ? kWindowMark : "") + "\n";
    std::size_t written = 0;
    if (!WriteAll(m_fd, header.data(), header.size(), written)) {
        const int err = errno;
        // Left behind, it would be an empty run, which --forget removes.
        (void)unlinkat(m_folderFd, (kPrefix + m_id).c_str(), 0);
        close(m_fd);
        m_fd = -1;
        m_id.clear();
        errno = err;
        return 0;
    }
    m_size = static_cast<long long>(header.size());
    // The new name must outlive a crash as well as the records.
    if (fsync(m_folderFd) != 0)
        Keep(errno);
    clock_gettime(CLOCK_MONOTONIC_COARSE, &m_synced);
    return 1;
}

// Whether the file can grow by bytes: within the file-size limit, and with
// its blocks set aside where the file system can do that.
bool CRunRecorder::Room(std::size_t bytes)
{
    const auto end = static_cast<unsigned long long>(m_size) + bytes;
    rlimit limit;
    if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && end > limit.rlim_cur) {
        errno = EFBIG;
        return false;
    }
    if (fallocate(m_fd, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(m_size), static_cast<off_t>(bytes)) != 0
        && (errno == ENOSPC || errno == EDQUOT))
        return false;
    // Any other failure (a file system that sets nothing aside): the write tells.
    return true;
}

int CRunRecorder::Append(const std::string& records)
{
    std::string withTorn;
    const std::string* out = &records;
    if (m_torn >= 0) {
        // Whatever follows a record cut short must not make it read as damage.
        std::string payload;
        AddNumber(payload, static_cast<std::uint64_t>(m_torn));
        AppendFrame(withTorn, kRecordTorn, payload);
        withTorn += records;
        out = &withTorn;
    }
    std::size_t written = 0;
    if (!WriteAll(m_fd, out->data(), out->size(), written)) {
        const int err = errno;
        // A run's own partial record is taken back: its move is not made.
        if (written > 0 && ftruncate(m_fd, static_cast<off_t>(m_size)) != 0) {
            Keep(errno);
            if (m_torn < 0)
                m_torn = m_size;   // the next write says so first
            m_size += static_cast<long long>(written);
        }
        errno = err;
        return 0;
    }
    m_size += static_cast<long long>(out->size());
    m_torn = -1;
    // Safe against a killed program at once; against a power cut, once a second.
    if (SecondsSince(m_synced) >= 1.0) {
        if (fdatasync(m_fd) != 0)
            Keep(errno);   // reported by Finish: the system may not report it again
        clock_gettime(CLOCK_MONOTONIC_COARSE, &m_synced);
    }
    return 1;
}

std::uint64_t CRunRecorder::QueueMove(const CFolderTable& table, std::uint32_t folder, const std::string& oldName,
                                    const std::string& newName, const FileId& file)
{
    std::string& payload = m_payload;
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
        AppendFrame(m_queued, kRecordFolder, payload);
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
    AppendFrame(m_queued, kRecordMove, payload);
    if (file.byContent) {
        // Where inode numbers do not last, what does: read with the move.
        payload.clear();
        AddNumber(payload, m_seq);
        AddNumber(payload, file.size);
        AddField(payload, std::to_string(file.mtimeSec));
        AddNumber(payload, file.mtimeNsec);
        AddNumber(payload, file.hash);
        AppendFrame(m_queued, kRecordContent, payload);
    }
    ++m_queuedMoves;
    m_queuedReserve += kFrameHead + std::to_string(m_seq).size() + 1;   // its failure mark
    return m_seq;
}

void CRunRecorder::QueueFailed(std::uint64_t seq)
{
    std::string payload;
    AddNumber(payload, seq);
    AppendFrame(m_marks, kRecordFailed, payload);
    --m_moved;
}

int CRunRecorder::WriteQueued()
{
    if (m_queued.empty() && m_marks.empty())
        return 1;
    // Marks first: their moves are on disk already, and the room for them
    // was set aside with those moves.
    std::string records;
    records.swap(m_marks);
    const std::size_t marks = records.size();
    records += m_queued;
    const std::size_t moves = m_queuedMoves;
    const std::size_t reserve = m_queuedReserve;
    m_queued.clear();
    m_queuedMoves = 0;
    m_queuedReserve = 0;
    if (m_fd < 0 && !Create())
        return 0;   // no mark waits before the first write
    if ((moves > 0 && !Room(records.size() + reserve)) || !Append(records)) {
        const int err = errno;
        m_marks = records.substr(0, marks);   // tried again by Finish, alone
        errno = err;
        return 0;
    }
    m_moved += moves;
    return 1;
}

int CRunRecorder::Finish()
{
    // Moves queued and not written were never made: only marks are left to write.
    m_queued.clear();
    m_queuedMoves = 0;
    m_queuedReserve = 0;
    if (m_fd < 0) {
        m_marks.clear();
        return 1;
    }
    if (!m_marks.empty() && !WriteQueued()) {
        Keep(errno);   // their moves count as made
        m_marks.clear();
    }
    if (m_moved == 0 && unlinkat(m_folderFd, (kPrefix + m_id).c_str(), 0) == 0) {
        // Nothing moved: nothing to undo, nothing to keep.
        (void)close(m_fd);   // nothing in it matters any more
        m_fd = -1;
        m_id.clear();
        return 1;
    }
    if (fdatasync(m_fd) != 0)
        Keep(errno);
    // The room set aside beyond the end goes back to the file system.
    struct stat st;
    if (fstat(m_fd, &st) == 0 && st.st_size == m_size)
        (void)ftruncate(m_fd, static_cast<off_t>(m_size));   // at worst the blocks stay taken
    if (close(m_fd) != 0)
        Keep(errno);
    m_fd = -1;
    if (m_error != 0) {
        errno = m_error;
        return 0;
    }
    return 1;
}

namespace {

// Read's result for a file that is not a journal.
constexpr int kNotJournal = 0;
// Read's result for an empty file, or one cut short in its header.
constexpr int kHeaderless = -1;

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Reads a journal, by the rules at the top of this file.
class CJournalReader
{
public:
    CJournalReader(const std::string& bytes, std::deque<RunMove>& moves, CFolderTable& folders,
                   std::vector<std::size_t>& damaged)
        : m_bytes(bytes), m_moves(moves), m_folders(folders), m_damaged(damaged)
    {
    }

    // kNotJournal, kHeaderless, or the version; of a version above
    // kVersion only the header is read.
    int Read(std::time_t& started, std::size_t& torn, bool& forgotten, bool& legacyUndone, bool& window)
    {
        const std::size_t magic = sizeof kMagic - 1;
        const std::size_t n = std::min(m_bytes.size(), magic);
        if (m_bytes.compare(0, n, kMagic, n) != 0)
            return kNotJournal;
        if (n < magic)
            return kHeaderless;
        std::size_t at = magic;
        int version = 0;
        for (; at < m_bytes.size() && IsDigit(m_bytes[at]); ++at)
            version = version < 100000 ? version * 10 + (m_bytes[at] - '0') : version;
        if (at == m_bytes.size())
            return kHeaderless;   // cut short in the first line
        if (at == magic || m_bytes[at] != '\n' || version == 0)
            return kNotJournal;
        const std::size_t line2 = at + 1;
        const std::size_t eol = m_bytes.find('\n', line2);
        if (eol == std::string::npos) {
            if (version > kVersion)
                return version;
            // Cut short in the second line, when what is there is right so far.
            std::size_t k = line2;
            while (k < m_bytes.size() && IsDigit(m_bytes[k]))
                ++k;
            const std::string_view rest(m_bytes.data() + k, m_bytes.size() - k);
            return std::string_view(kWindowMark).substr(0, rest.size()) == rest ? kHeaderless : kNotJournal;
        }
        char* end = nullptr;
        started = static_cast<std::time_t>(std::strtoll(m_bytes.c_str() + line2, &end, 10));
        const std::size_t after = static_cast<std::size_t>(end - m_bytes.c_str());
        window = after <= eol && m_bytes.compare(after, eol - after, kWindowMark) == 0;
        if (version > kVersion)
            return version;
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
                // A type not known here is a later version's record: skipped, not damage.
                if (Known(type) && (!SplitFields(payload, fields) || !Take(type, fields, at, forgotten)))
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

    static bool Known(char type)
    {
        for (const char known : {kRecordFolder, kRecordMove, kRecordFailed, kRecordBack, kRecordTorn, kRecordGivenUp,
                                 kRecordContent})
            if (type == known)
                return true;
        return false;
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
        case kRecordFolder: {
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
        case kRecordMove: {
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
        case kRecordFailed:
        case kRecordBack: {
            if (f.size() != 1 || !ParseNumber(f[0], a))
                return false;
            const auto it = std::lower_bound(m_moves.begin(), m_moves.end(), a,
                                             [](const RunMove& move, std::uint64_t seq) { return move.seq < seq; });
            if (it == m_moves.end() || it->seq != a)
                return false;
            if (type == kRecordFailed)
                it->failed = true;
            else
                it->back = true;
            return true;
        }
        case kRecordContent: {
            std::uint64_t size = 0, nsec = 0, hash = 0;
            std::int64_t sec = 0;
            if (f.size() != 5 || !ParseNumber(f[0], a) || !ParseNumber(f[1], size) || !ParseSigned(f[2], sec)
                || !ParseNumber(f[3], nsec) || nsec >= 1000000000u || !ParseNumber(f[4], hash))
                return false;
            const auto it = std::lower_bound(m_moves.begin(), m_moves.end(), a,
                                             [](const RunMove& move, std::uint64_t seq) { return move.seq < seq; });
            if (it == m_moves.end() || it->seq != a || it->file.byContent)
                return false;
            it->file.size = size;
            it->file.mtimeSec = sec;
            it->file.mtimeNsec = static_cast<std::uint32_t>(nsec);
            it->file.hash = hash;
            it->file.byContent = true;
            return true;
        }
        case kRecordTorn:
            // The bytes from the offset up to here were a record cut short,
            // and then written after: no damage, however they read.
            if (f.size() != 1 || !ParseNumber(f[0], a) || a >= at)
                return false;
            while (!m_damaged.empty() && m_damaged.back() >= a)
                m_damaged.pop_back();
            return true;
        case kRecordGivenUp:
            forgotten = true;
            return true;
        default:
            return false;
        }
    }

    // Unframed: a record that does not parse ends what can be read.
    void ReadVersion1(std::size_t at, std::size_t& torn, bool& undone)
    {
        const std::string_view all(m_bytes);
        while (at < m_bytes.size()) {
            const char type = m_bytes[at];
            if (type == kLegacyMove) {
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
            } else if ((type == kLegacyFailed || type == kLegacyUndone) && at + 1 < m_bytes.size()
                       && m_bytes[at + 1] == '\0') {
                if (type == kLegacyUndone)
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

CPastRun::~CPastRun()
{
    (void)Flush();   // a caller that wants the result flushes first; here nobody is left to tell
    if (m_fd >= 0)
        close(m_fd);
    if (m_folderFd >= 0)
        close(m_folderFd);
}

void CPastRun::Keep(int err)
{
    if (m_error == 0)
        m_error = err != 0 ? err : EIO;
}

int CPastRun::Open(const std::string& folder, const std::string& id, std::string& why)
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
    if (m_fd == -2) {
        close(folderFd);
        m_fd = -1;
        // TRANSLATORS: a journal file's path, then why: "is a link", "is not a
        // regular file", "is owned by user ..." or "can be written by other users".
        why = FormatText(Tr("%s %s; refusing to use it"), DisplayableUtf8(folder + "/" + name).c_str(),
                         fileWhy.c_str());
        return -4;
    }
    int result = 1;
    if (m_fd < 0)
        result = err == ENOENT ? 0 : -2;
    else if (flock(m_fd, LOCK_EX | LOCK_NB) != 0)
        result = errno == EWOULDBLOCK ? -1 : -2;
    else if (!ReadWhole(m_fd, m_bytes))
        result = -2;
    const int readErr = m_fd < 0 ? err : errno;
    if (result == 1) {
        CJournalReader reader(m_bytes, m_moves, m_folders, m_damaged);
        std::time_t started = 0;
        bool window = false;   // --runs tells; an undo does the same either way
        m_version = reader.Read(started, m_torn, m_forgotten, m_legacyUndone, window);
        if (m_version == kHeaderless) {
            m_version = 0;
            m_folderFd = folderFd;   // Forget removes the file from it
            result = -5;
        } else if (m_version > kVersion) {
            close(m_fd);   // not even locked: nothing here writes to it
            m_fd = -1;
            result = -6;
        } else if (m_version == kNotJournal) {
            result = -3;
        }
    }
    if (m_folderFd != folderFd)
        close(folderFd);
    if (result == 1 || result == -5) {
        m_id = id;
        m_path = folder + "/" + name;
        m_size = m_bytes.size();
    }
    errno = readErr;
    return result;
}

std::size_t CPastRun::Left() const
{
    return static_cast<std::size_t>(
        std::count_if(m_moves.begin(), m_moves.end(), [](const RunMove& move) { return !move.back; }));
}

bool CPastRun::Closed() const
{
    if (m_forgotten || m_legacyUndone)
        return true;
    return Left() == 0 && m_damaged.empty();
}

int CPastRun::Append(const std::string& records)
{
    if (m_fd < 0)
        return 0;
    std::string out;
    if (m_torn != std::string::npos) {
        // Whatever follows a torn tail must not make it read as damage.
        std::string payload;
        AddNumber(payload, m_torn);
        AppendFrame(out, kRecordTorn, payload);
    }
    out += records;
    std::size_t written = 0;
    if (!WriteAll(m_fd, out.data(), out.size(), written)) {
        Keep(errno);
        if (written > 0 && m_torn == std::string::npos)
            m_torn = m_size;   // cut short: the next write says so
        m_size += written;
        return 0;
    }
    m_size += written;
    m_torn = std::string::npos;
    return 1;
}

int CPastRun::MarkBack(RunMove& move)
{
    move.back = true;
    if (m_version != kVersion)
        return 1;   // version 1 has no such mark; the run is marked when all are back
    std::string payload;
    AddNumber(payload, move.seq);
    AppendFrame(m_pending, kRecordBack, payload);
    if (m_pending.size() < kMarkBatch)
        return 1;
    return WriteMarks(false);
}

// Writes the marks waiting; to disk with sync, else once a second at most: a
// mark lost to a power cut only makes the next undo find that file under its
// old name.
int CPastRun::WriteMarks(bool sync)
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
    if (fdatasync(m_fd) != 0) {
        Keep(errno);   // Flush reports it: the system may not report it again
        return sync ? 0 : 1;
    }
    m_unsynced = false;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &m_synced);
    return 1;
}

// Version 1's only mark, read only after whole records: the run is closed.
int CPastRun::WriteLegacyUndone()
{
    if (m_torn != std::string::npos || !m_damaged.empty()) {
        errno = ENOTSUP;   // a version 1 reader would never reach it
        return 0;
    }
    const char mark[2] = {kLegacyUndone, '\0'};
    std::size_t written = 0;
    const bool whole = WriteAll(m_fd, mark, sizeof mark, written);
    m_size += written;
    if (!whole || fdatasync(m_fd) != 0) {
        Keep(errno);
        return 0;
    }
    m_legacyUndone = true;
    return 1;
}

int CPastRun::Flush()
{
    if (m_fd < 0)
        return 0;
    int done = 1;
    if (m_version == 1 && !m_legacyUndone && Left() == 0 && m_damaged.empty() && m_torn == std::string::npos)
        done = WriteLegacyUndone();
    else if (m_version == kVersion)
        done = WriteMarks(true);
    if (m_error != 0) {
        errno = m_error;
        return 0;
    }
    return done;
}

int CPastRun::Forget()
{
    if (m_fd < 0)
        return 0;
    if (m_folderFd >= 0) {
        // An empty run: removed, while its name still leads to the file held here.
        const std::string name = kPrefix + m_id;
        struct stat held, named;
        if (fstat(m_fd, &held) != 0 || fstatat(m_folderFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0)
            return 0;
        if (held.st_dev != named.st_dev || held.st_ino != named.st_ino) {
            errno = ESTALE;
            return 0;
        }
        if (unlinkat(m_folderFd, name.c_str(), 0) != 0)
            return 0;
        m_forgotten = true;
        return 1;
    }
    if (m_version == 1) {
        if (!WriteLegacyUndone())
            return 0;
        m_forgotten = true;
        return 1;
    }
    if (m_version != kVersion) {
        errno = ENOTSUP;
        return 0;
    }
    std::string payload, record;
    AddNumber(payload, static_cast<std::uint64_t>(std::time(nullptr)));
    AppendFrame(record, kRecordGivenUp, payload);
    if (!Flush() || !Append(record))
        return 0;
    if (fdatasync(m_fd) != 0) {
        Keep(errno);
        return 0;
    }
    m_forgotten = true;
    return 1;
}

std::vector<std::string> RunIdsNewestFirst(const std::string& folder)
{
    std::vector<std::string> ids;
    std::string why;
    struct stat st;
    if (lstat(folder.c_str(), &st) != 0)
        return ids;
    const int folderFd = OpenJournalFolder(folder, false, why);
    if (folderFd < 0)
        return ids;
    const std::vector<unsigned long> numbers = RunIds(folderFd);
    close(folderFd);
    for (auto it = numbers.rbegin(); it != numbers.rend(); ++it)
        ids.push_back(std::to_string(*it));
    return ids;
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
        const int err = errno;
        close(fd);
        if (!read) {
            run.problem = EnglishErrorText(err);
            runs.push_back(std::move(run));
            continue;
        }
        CJournalReader reader(bytes, moves, folders, damaged);
        const int version = reader.Read(run.started, torn, run.forgotten, legacyUndone, run.window);
        if (version == kNotJournal) {
            // TRANSLATORS: why a run of the journal cannot be read (--runs).
            run.problem = N_("not a journal");
            runs.push_back(std::move(run));
            continue;
        }
        run.headerless = version == kHeaderless;
        run.empty = run.headerless && bytes.empty();
        run.newer = version > kVersion;
        run.count = moves.size();
        run.left = static_cast<std::size_t>(
            std::count_if(moves.begin(), moves.end(), [](const RunMove& move) { return !move.back; }));
        run.damaged = damaged.size();
        run.closed = run.forgotten || legacyUndone || (run.left == 0 && run.damaged == 0 && version > 0
                                                       && version <= kVersion);
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
