#pragma once
// Export, import and comparison of a whole configuration. Each operation takes the memory
// access on the sensor's link (whose timer is the live poll), the unlock sequence, the
// progress display and the prompts, and returns what happened, so that the main window,
// a command-line tool and the firmware upgrade's backup all put the same bytes on the wire.
#include "common/UserPrompts.h"
#include "config/MemoryAccess.h"
#include "configfiles/DscFormat.h"
#include "serial/ProgressDisplay.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quellon {

struct ConfigFileContext {
    MemoryAccess& memory; // the primitives; memory.Timer() is the live poll
    UserPrompts& prompts;
    std::function<void()> unlock;        // UnlockSensor
    ProgressDisplay* progress = nullptr; // the progress dialog, or none
    std::function<void()> processEvents; // let the user interface run, after each word
};

// The largest file that import and compare read.
inline constexpr std::size_t kMaxDscFileBytes = 1u << 20;

inline constexpr const char* kSaveCancelled = "Save file cancelled";
inline constexpr const char* kOpenCancelled = "Open file cancelled";
inline constexpr const char* kSavingError =
    "There has been an error saving configuration. Please try again.";
inline constexpr const char* kWritingError =
    "There has been an error writing configuration. Please try again.";

// ---- Export ------------------------------------------------------------------------------

struct ExportResult {
    enum class Status {
        Saved,        // 38 lines
        Cancelled,    // the file dialog was cancelled: nothing was sent
        ReadErrors,   // the file holds the lines that were read, fewer than 38
        CannotCreate, // nothing was sent; an older file is untouched
        CannotWrite,  // the file could not be completed; an older file is untouched, and
                      // the words read are in partialPath when it is not empty
    };
    Status status = Status::Saved;
    int wordsRead = 0;
    std::string path;   // as given
    std::string reason; // the system's reason for CannotCreate and CannotWrite
    // Where the words went when not to `path`: a ReadErrors export when something stood at
    // `path` (or the name could not be taken), or the temporary file kept when the rename
    // failed. The file at `path` and any older partial file are then kept whole.
    std::string partialPath;
    bool olderFile = false; // something stood at `path` when the words were saved
};

// Where an incomplete export goes when a file stands at `path` already: "NAME.partial.dsc"
// beside "NAME.dsc" (and beside a name with another extension or none); from the second on
// "NAME.partial-2.dsc", "NAME.partial-3.dsc"...
std::string PartialExportPath(const std::string& path, int nth = 1);

// Reads the words of the export list into a new file at `path`: the file is created first
// (nothing is sent when it cannot be), then the sensor is unlocked and each word read with
// the progress display captioned "Saving configuration"; the file replaces any older one
// at the end when every word was read. An incomplete export replaces nothing: its lines go
// to `path` where nothing stands, else to the first free PartialExportPath beside the file
// that would have been replaced (a symbolic link's target, on whose file system the words
// are written), else the temporary file is kept. Leaves the live poll alone and shows no
// box, so that a caller with its own sequence (the firmware upgrade's backup) can use it.
ExportResult ExportToFile(const ConfigFileContext& context, const std::string& path);
// The box text for a result; empty for Saved.
std::string ExportMessage(const ExportResult& result);
// The box's details: where the words read are when they are not (all) at the chosen
// name; empty otherwise.
std::string ExportDetails(const ExportResult& result);

// The configuration backup taken before a firmware upgrade: the export list into
// "backup-YYYYMMDD-HHMMSS.dsc" (local time `when`) in the working folder. True with the
// file's path in `pathOrError` when all 38 words were saved; otherwise false with what went
// wrong (a partial file keeps the words that were read).
// `prefix` goes before the name ("COM7-"), so that backups taken in the same second from
// several sensors do not replace each other.
bool BackupConfiguration(const ConfigFileContext& context, std::time_t when,
                         std::string& pathOrError, const std::string& prefix = {});

// "Export": stops the live poll, asks for the file (adding ".dsc" to a name without an
// extension), exports, shows any error and restarts the live poll on every way out.
ExportResult RunExport(const ConfigFileContext& context);

// ---- Import ------------------------------------------------------------------------------

// A file read and checked whole.
struct DscFileResult {
    bool ok = false;
    std::vector<DscEntry> entries;
    std::string message; // the box text when !ok
};
// `verb` begins the message about a bad line: "import", "compare with".
DscFileResult ReadDscFile(const std::string& path, const char* verb);

struct ImportResult {
    enum class Status {
        Cancelled,   // the file dialog was cancelled, or the user declined the file's unusual
                     // words: nothing was written
        FileRefused, // the file could not be read, has a bad line or no word: nothing was sent
        Written,     // every word was written and "Z" sent
        WriteErrors, // some word was not written; no "Z"
        Stopped,     // the user cancelled between two words; no "Z"
    };
    Status status = Status::Cancelled;
    int words = 0;         // entries in the file
    int failed = 0;        // words not written (those not tried after the port went included)
    int written = 0;       // words the sensor acknowledged
    bool portGone = false; // the sensor's port went: the words after it were not tried
    std::string message;
};

// Unlocks the sensor and writes each entry in order (progress "Writing configuration", with
// Cancel between two words), going on after a failed word, but stopping when the sensor's
// port has gone; sends "Z" only when every word was written. Shows no box and leaves the
// live poll alone.
ImportResult ImportEntries(const ConfigFileContext& context, const std::vector<DscEntry>& entries);
// The writing error's details: how many words reached the sensor ("4 of 6 words were
// written."), and that the rest were not tried when the port went; empty unless WriteErrors
// or Stopped.
std::string ImportDetails(const ImportResult& result);

// What a checked file would do beyond what an export of a sensor of the same kind holds, one
// line each: words outside the export list, an address given twice, and a feature word that
// changes the sensor's model or output (`sensorFeatures`: the sensor's word now; none when it
// could not be read). Empty for a file as an export writes it.
std::vector<std::string> ImportConcerns(const std::vector<DscEntry>& entries,
                                        std::optional<std::uint16_t> sensorFeatures);

struct ImportOptions {
    // The sensor's feature word, when the caller knows it; otherwise it is read when the file
    // holds one.
    std::optional<std::uint16_t> sensorFeatures;
    // Write a file with concerns without asking (the command line's explicit option).
    bool acceptConcerns = false;
};

// "Import": stops the live poll, asks for the file, reads and checks all of it before
// anything is sent (an empty file is refused; a file with concerns is written only when the
// user agrees), writes it, shows the writing error, runs `featuresRead` (the configuration
// window's Features read) after any import that reached the sensor, and restarts the live
// poll on every way out.
ImportResult RunImport(const ConfigFileContext& context, const std::function<void()>& featuresRead,
                       const ImportOptions& options = {});

// ---- Compare -----------------------------------------------------------------------------

struct CompareRow {
    ConfigAddress address = 0;
    std::string name; // the parameter's name in the configuration window, or empty
    std::uint16_t fileValue = 0;
    bool sensorRead = false; // false: the sensor's word could not be read
    std::uint16_t sensorValue = 0;
    bool Differs() const { return !sensorRead || sensorValue != fileValue; }
};
struct CompareResult {
    std::string path;
    std::vector<CompareRow> rows; // one per line of the file, in file order
    int differences = 0;          // rows whose value differs (unread words included)
    int unread = 0;               // rows whose word could not be read
};

// Reads every address that the entries name (each once, progress "Reading configuration")
// and pairs the sensor's value with the file's. Writes nothing; leaves the live poll alone.
CompareResult CompareEntries(const ConfigFileContext& context,
                             const std::vector<DscEntry>& entries);
// "Compare with File...": stops the live poll, asks for the file, reads and checks it,
// compares and restarts the live poll. Nothing when cancelled or refused (after its box).
std::optional<CompareResult> RunCompare(const ConfigFileContext& context);
// "No differences", "1 difference", "3 differences (1 word could not be read)".
std::string CompareSummary(const CompareResult& result);

} // namespace quellon
