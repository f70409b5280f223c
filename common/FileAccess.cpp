#include "common/FileAccess.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quellon {

namespace {

namespace fs = std::filesystem;

fs::path NativePath(const std::string& utf8) {
#ifdef _WIN32
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
#else
    return fs::path(utf8); // the bytes as chosen
#endif
}

std::string Utf8(const fs::path& path) {
#ifdef _WIN32
    const std::u8string u = path.u8string();
    return std::string(u.begin(), u.end());
#else
    return path.string();
#endif
}

std::string Reason(int error) {
    return std::strerror(error != 0 ? error : EIO);
}

std::atomic<unsigned> g_tempCounter{0};

int ProcessId() {
#ifdef _WIN32
    return _getpid();
#else
    return static_cast<int>(::getpid());
#endif
}

} // namespace

std::FILE* OpenUserFile(const std::string& path, const char* mode, std::string& reason) {
    errno = 0;
#ifdef _WIN32
    const std::wstring wideMode(mode, mode + std::strlen(mode));
    std::FILE* f = _wfopen(NativePath(path).c_str(), wideMode.c_str());
#else
    std::FILE* f = std::fopen(path.c_str(), mode);
#endif
    if (!f) {
        reason = Reason(errno);
    }
    return f;
}

bool ReadWholeFile(const std::string& path, std::size_t limit, std::string& content,
                   std::string& reason) {
    content.clear();
    std::FILE* f = OpenUserFile(path, "rb", reason);
    if (!f) {
        return false;
    }
    char block[4096];
    bool ok = true;
    for (;;) {
        errno = 0;
        const std::size_t n = std::fread(block, 1, sizeof block, f);
        if (n > 0) {
            if (content.size() + n > limit) {
                reason = "the file is larger than " + std::to_string(limit) + " bytes";
                ok = false;
                break;
            }
            content.append(block, n);
        }
        if (n < sizeof block) {
            if (std::ferror(f)) {
                reason = Reason(errno); // a folder gives "Is a directory"
                ok = false;
            }
            break;
        }
    }
    std::fclose(f);
    if (!ok) {
        content.clear();
    }
    return ok;
}

bool PathExists(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(NativePath(path), ec));
}

bool TruncateFile(const std::string& path, std::uint64_t size, std::string& reason) {
    std::error_code ec;
    fs::resize_file(NativePath(path), size, ec);
    if (ec) {
        reason = ec.message();
        return false;
    }
    return true;
}

Presence PathPresence(const std::string& path, std::string& reason) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(NativePath(path), ec);
    if (fs::exists(status)) {
        return Presence::Present;
    }
    if (!ec || ec == std::errc::no_such_file_or_directory) {
        return Presence::Absent;
    }
    reason = ec.message();
    return Presence::Unknown;
}

std::string ReplacingFile::Resolved(const std::string& path) {
    fs::path target = NativePath(path);
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(target, ec))) {
        const fs::path resolved = fs::canonical(target, ec);
        if (!ec) {
            target = resolved;
        }
    }
    return Utf8(target);
}

bool ReplacingFile::Create(const std::string& path, std::string& reason) {
    Abandon();
    m_error = 0;
    m_target = Resolved(path);
    const fs::path folder = NativePath(m_target).parent_path();
    const std::string name = ".quellon-" + std::to_string(ProcessId()) + "-" +
                             std::to_string(g_tempCounter.fetch_add(1)) + ".tmp";
    m_temp = Utf8(folder.empty() ? fs::path(name) : folder / name);
#ifdef _WIN32
    m_file = OpenUserFile(m_temp, "wb", reason);
    if (!m_file) {
        m_temp.clear();
        return false;
    }
#else
    const int fd = ::open(m_temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        reason = Reason(errno);
        m_temp.clear();
        return false;
    }
    struct stat old {};
    if (::stat(m_target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        (void)::fchmod(fd, old.st_mode & 07777); // the replacement keeps the old file's mode
    }
    m_file = ::fdopen(fd, "wb");
    if (!m_file) {
        reason = Reason(errno);
        ::close(fd);
        ::unlink(m_temp.c_str());
        m_temp.clear();
        return false;
    }
#endif
    return true;
}

void ReplacingFile::Write(std::string_view text) {
    if (!m_file || m_error != 0 || text.empty()) {
        return;
    }
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), m_file) != text.size()) {
        m_error = errno != 0 ? errno : EIO;
    }
}

bool ReplacingFile::Close(std::string& reason) {
    if (m_file) {
        errno = 0;
        if (m_error == 0 && std::fflush(m_file) != 0) {
            m_error = errno != 0 ? errno : EIO;
        }
#ifdef _WIN32
        if (m_error == 0 && _commit(_fileno(m_file)) != 0) {
            m_error = errno != 0 ? errno : EIO;
        }
#else
        if (m_error == 0 && ::fsync(::fileno(m_file)) != 0) {
            m_error = errno != 0 ? errno : EIO;
        }
#endif
        errno = 0;
        const bool closed = std::fclose(m_file) == 0;
        m_file = nullptr;
        if (m_error == 0 && !closed) {
            m_error = errno != 0 ? errno : EIO;
        }
    } else if (m_temp.empty() && m_error == 0) {
        m_error = EBADF; // never created, or committed already
    }
    if (m_error != 0) {
        reason = Reason(m_error);
        Abandon();
        return false;
    }
    return true;
}

bool ReplacingFile::Commit(std::string& reason) {
    if (!Close(reason)) {
        return false;
    }
#ifdef _WIN32
    // Write-through: the call returns once the new name is on the disk, so that a file
    // committed before something depends on it (the counter of serial numbers given out)
    // does not come back as it was after a power cut. A read-only target is refused.
    if (!MoveFileExW(NativePath(m_temp).c_str(), NativePath(m_target).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        reason = std::system_category().message(static_cast<int>(GetLastError()));
        return false; // the temporary file stays for Keep
    }
#else
    std::error_code ec;
    fs::rename(NativePath(m_temp), NativePath(m_target), ec);
    if (ec) {
        reason = ec.message(); // the temporary file stays for Keep
        return false;
    }
#endif
    m_temp.clear();
    return true;
}

bool ReplacingFile::CommitAs(const std::string& path, std::string& reason) {
    m_target = Resolved(path);
    return Commit(reason);
}

ReplacingFile::NewName ReplacingFile::CommitNew(const std::string& path, std::string& reason) {
    if (!Close(reason)) {
        return NewName::Failed;
    }
    if (PathExists(path)) {
        return NewName::Taken;
    }
#ifdef _WIN32
    // MoveFileEx without MOVEFILE_REPLACE_EXISTING, as _wrename does: never replaces.
    if (_wrename(NativePath(m_temp).c_str(), NativePath(path).c_str()) != 0) {
        const int error = errno;
        if (PathExists(path)) {
            return NewName::Taken;
        }
        reason = Reason(error);
        return NewName::Failed;
    }
#else
    // A hard link is made only where no name stands, so that a file appearing meanwhile is
    // not replaced; a file system without hard links gets a rename after the check above.
    if (::link(m_temp.c_str(), path.c_str()) == 0) {
        ::unlink(m_temp.c_str());
    } else if (errno == EEXIST) {
        return NewName::Taken;
    } else if (errno != EPERM && errno != ENOSYS && errno != EOPNOTSUPP) {
        reason = Reason(errno);
        return NewName::Failed;
    } else if (std::rename(m_temp.c_str(), path.c_str()) != 0) {
        reason = Reason(errno);
        return NewName::Failed;
    }
#endif
    m_temp.clear();
    return NewName::Done;
}

std::string ReplacingFile::Keep(std::string& reason) {
    if (!Close(reason)) {
        return {};
    }
    std::string kept;
    kept.swap(m_temp);
    return kept;
}

void ReplacingFile::Abandon() {
    if (m_file) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    if (!m_temp.empty()) {
        std::error_code ec;
        fs::remove(NativePath(m_temp), ec);
        m_temp.clear();
    }
}

} // namespace quellon
