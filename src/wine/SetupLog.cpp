#include "wine/SetupLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "common/WineText.h"
#include "platform/RegularFile.h"

namespace {

std::string header(const std::vector<std::string>& arguments) {
    return "--- wine " + WineText::joinArguments(arguments) + " ---\n";
}

// Whether the open file, read from its start, is `size` bytes of UTF-8.
// Streams in 1 MiB blocks, checked where they were read, so a log of any size
// costs no more memory than one block; the up to three bytes of a sequence a
// block splits move to just before the next block.
bool isUtf8File(int fd, off_t size) {
    constexpr size_t kCarry = 3, kBlock = 1 << 20;
    const std::unique_ptr<char[]> buf(new char[kCarry + kBlock]);
    char* const block = buf.get() + kCarry;
    size_t carried = 0;  // bytes just before `block`
    off_t total = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, block, kBlock, total);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        total += n;
        const std::string_view text(block - carried, carried + static_cast<size_t>(n));
        size_t cut = text.size();
        for (size_t back = 1; back <= 3 && back <= text.size(); ++back) {
            const auto byte = static_cast<unsigned char>(text[text.size() - back]);
            if ((byte & 0xC0) == 0x80) continue;  // a continuation byte: look further back
            const size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
            if (length > back) cut = text.size() - back;
            break;
        }
        if (!WineText::isValidUtf8(text.substr(0, cut))) return false;
        carried = text.size() - cut;
        std::memmove(block - carried, text.data() + cut, carried);
    }
    return total == size && WineText::isValidUtf8(std::string_view(block - carried, carried));
}

bool writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Writes into a fresh file beside the target and renames it over the target.
// A failure leaves the target as it was and removes the temporary file.
void replaceAtomically(const std::string& path, const std::string& text) {
    std::string temp = path + ".XXXXXX";
    int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return;
    ::fchmod(fd, 0644);
    const bool written = writeAll(fd, text);
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(temp.c_str(), path.c_str()) != 0) ::unlink(temp.c_str());
}

}  // namespace

std::string SetupLog::startedSection(const std::vector<std::string>& arguments, const std::string& output) {
    return header(arguments) + output;
}

std::string SetupLog::failedSection(const std::vector<std::string>& arguments, const std::string& message) {
    return header(arguments) + message + "\n";
}

namespace {

// What this process last left at the log: a file it has checked to be UTF-8
// and appended only valid text to since. When the file is still that one, the
// next section is appended without reading the log again.
struct KnownLog {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    bool matches(const struct stat& st) const {
        return size >= 0 && st.st_dev == device && st.st_ino == inode && st.st_size == size;
    }
};

// Leftovers of a replace that a killed launcher never renamed: the log's name
// and a six-character suffix.
void removeStaleTemporaries(const std::string& path) {
    const std::filesystem::path log(path);
    const std::string prefix = log.filename().string() + ".";
    std::error_code ec;
    for (std::filesystem::directory_iterator it(log.parent_path(), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() == prefix.size() + 6 && name.rfind(prefix, 0) == 0 && it->is_regular_file(ec)) {
            std::filesystem::remove(it->path(), ec);
        }
    }
}

// Appends `text` at the end of the open log; a short write is taken back, so
// the log never ends in half a section.
bool appendAll(int fd, off_t size, const std::string& text) {
    if (writeAll(fd, text)) return true;
    (void)::ftruncate(fd, size);
    return false;
}

}  // namespace

void SetupLog::append(const std::string& path, const std::string& section, bool started) {
    // One process-wide lock: every PrefixManager shares the one log.
    static std::mutex mutex;
    static std::map<std::string, KnownLog> known;
    static std::set<std::string> swept;
    std::lock_guard lock(mutex);
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    if (swept.insert(path).second) removeStaleTemporaries(path);

    // The log grows by appending; only a log that is not UTF-8 or cannot be
    // read is replaced by the new section alone.
    KnownLog& state = known[path];
    // A FIFO planted at the path cannot hold the command up, and a link is
    // never appended through: the replace below puts a file in its place.
    const int fd = platform::RegularFile::open(path, O_APPEND | O_CREAT);
    struct stat st {};
    if (fd >= 0 && ::fstat(fd, &st) == 0) {
        bool usable = state.matches(st);
        if (!usable) {
            const int reader = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            usable = reader >= 0 && isUtf8File(reader, st.st_size);
            if (reader >= 0) ::close(reader);
        }
        if (usable) {
            const std::string text = (started && st.st_size > 0 ? "\n" : "") + section;
            const bool ok = appendAll(fd, st.st_size, text);
            struct stat after {};
            const bool stays = ok && ::fstat(fd, &after) == 0 && WineText::isValidUtf8(section);
            state = stays ? KnownLog{after.st_dev, after.st_ino, after.st_size} : KnownLog{};
            ::close(fd);
            return;
        }
    }
    if (fd >= 0) ::close(fd);
    state = KnownLog{};
    replaceAtomically(path, section);
}
