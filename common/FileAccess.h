#pragma once
// Files the user names: opened with the whole path as chosen (UTF-8 text from the dialogs,
// handed to the system in its native form), with the system's reason on failure. A file
// that replaces another is written beside it and renamed over it only when complete.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace quellon {

// std::fopen with the whole UTF-8 path (the wide API on Windows). Null with the system's
// reason ("No such file or directory") when it cannot.
std::FILE* OpenUserFile(const std::string& path, const char* mode, std::string& reason);

// True when something (a file, a folder) exists at the path.
bool PathExists(const std::string& path);
// Whether something stands at the path; Unknown (with the reason) when the file system could
// not say (a folder on the way that is no folder or cannot be searched, an I/O error), which
// a caller that would start afresh for a missing file must not take for Absent.
enum class Presence { Absent, Present, Unknown };
Presence PathPresence(const std::string& path, std::string& reason);
// Cuts the file back to `size` bytes (what an append that failed half-way left behind).
bool TruncateFile(const std::string& path, std::uint64_t size, std::string& reason);

// The whole content of a file of at most `limit` bytes. False with the reason otherwise.
bool ReadWholeFile(const std::string& path, std::size_t limit, std::string& content,
                   std::string& reason);

// A file that replaces `path` only on Commit: the text goes into a new temporary file in
// the same folder, which Commit flushes to the disk and renames over `path` (a symbolic
// link is followed: its target is replaced). Until then, and whenever something fails, the
// file at `path` is as it was; the temporary file is removed when the object goes, unless
// Keep took it.
class ReplacingFile {
public:
    ReplacingFile() = default;
    ~ReplacingFile() { Abandon(); }
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // Creates the temporary file. False with the reason when the folder does not allow it.
    bool Create(const std::string& path, std::string& reason);
    // Appends text; a failure is remembered and reported by Commit.
    void Write(std::string_view text);
    // Flushes, closes and renames. False with the reason (the target is then untouched).
    bool Commit(std::string& reason);
    // Commit under another name in the same folder instead (a link there is followed too):
    // the target named at Create is left as it is.
    bool CommitAs(const std::string& path, std::string& reason);
    // Commit under a name where nothing stands yet, which is never replaced: Taken when
    // something (a file, a link, a folder) stands at `path`. After Taken or a failed rename
    // the temporary file is still there for another name or Keep.
    enum class NewName { Done, Taken, Failed };
    NewName CommitNew(const std::string& path, std::string& reason);
    // Closes the temporary file and leaves it where it is, no longer removed: its path, or
    // empty when its text could not be written whole (it is then removed).
    std::string Keep(std::string& reason);
    // Closes and removes the temporary file; the target is untouched.
    void Abandon();

    bool IsOpen() const { return m_file != nullptr; }
    const std::string& TemporaryPath() const { return m_temp; }
    // The file that Commit replaces: the path named at Create, a symbolic link resolved.
    const std::string& Target() const { return m_target; }

private:
    static std::string Resolved(const std::string& path);
    // Flushes the text to the disk and closes the file; false with the reason of the first
    // failed write, flush or close.
    bool Close(std::string& reason);

    std::FILE* m_file = nullptr;
    std::string m_target; // the file replaced (a link's target)
    std::string m_temp;
    int m_error = 0; // errno of the first failed write
};

} // namespace quellon
