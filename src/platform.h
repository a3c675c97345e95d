// What differs between the systems Tarnwick runs on (Linux, Windows): large
// zeroed memory for the transposition table, how much memory the process may
// have, read-only mappings of table files, the program's own file, the
// separator of directory lists, and the hooks of the start-up processor check.
// Nothing else in the engine includes a system header for these things.
//
// platform.cpp is compiled for the base instruction set of the processor in
// every program, like the processor check, which calls it before anything
// built for the program's own instruction set has run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

namespace platform {

// ---------------------------------------------------------------------------
// Memory of the transposition table
// ---------------------------------------------------------------------------

// `bytes` of zeroed memory, starting on a 2 MB boundary where the system
// allows it so that every 2 MB can become one huge page; null when the memory
// cannot be had.  On Windows large pages are used when the user holds the
// privilege to lock pages in memory; most users do not, and then ordinary
// pages are used without a word.
void* allocateZeroed(size_t bytes);
// Memory of allocateZeroed is in memory at once (WebAssembly, where the
// table comes from the heap): there is nothing to bring in, and no thread
// for it.
#if defined(__EMSCRIPTEN__)
constexpr bool MEMORY_RESIDENT_AT_ONCE = true;
#else
constexpr bool MEMORY_RESIDENT_AT_ONCE = false;
#endif
// Gives back memory of allocateZeroed (the same `bytes`).
void releaseMemory(void* p, size_t bytes);
// The system's page size.
size_t pageBytes();

// The outcome of a request about pages that the system may not support.
enum class PageRequest { DONE, FAILED, UNSUPPORTED };

// Has the system fault the pages in now (Linux MADV_POPULATE_WRITE), without
// writing them: another thread may store into them meanwhile.
PageRequest populatePages(void* p, size_t bytes);
// Transparent huge pages for the range from now on, or small pages only.
void preferHugePages(void* p, size_t bytes);
void preferSmallPages(void* p, size_t bytes);
// Turns the range into huge pages at once (Linux MADV_COLLAPSE).
PageRequest collapseHugePages(void* p, size_t bytes);
// Gives the memory of a page-aligned range of allocateZeroed back to the
// system where it can; the range reads as zero afterwards, and its pages come
// back as they are used.  False in the rare case that the system took the
// pages but would not commit them again (Windows, out of commit charge): the
// range must not be used then.
bool discardPages(void* p, size_t bytes);

// ---------------------------------------------------------------------------
// How much memory there is
// ---------------------------------------------------------------------------

// The machine's physical memory in bytes (~0 when the system does not say).
uint64_t physicalMemory();
// The most memory this process may have: the physical memory, or less when
// the system sets a limit for it (a Linux control group, a Windows job).
uint64_t processMemoryLimit();
// The Linux control-group part of that: the least of `physicalBytes` and the
// limits of the process's groups (cgroup v1 or v2) and their ancestors, read
// from `procCgroupFile` (/proc/self/cgroup) and the hierarchy mounted at
// `cgroupRoot` (/sys/fs/cgroup).
uint64_t cgroupMemoryLimit(uint64_t physicalBytes, const std::string& procCgroupFile, const std::string& cgroupRoot);
// Address space the process may still map under a limit on it (Linux
// RLIMIT_AS, "ulimit -v"); ~0 when there is no such limit.
uint64_t addressSpaceLeft();
// Address space the system reserves for the stack of each new thread.
uint64_t threadStackBytes();

// ---------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------

// Paths are UTF-8 everywhere in the engine.  On Windows they are converted to
// the system's UTF-16; a path that is not valid UTF-8 is read in the system's
// code page, which is what older GUIs send.

// What tells one state of a file on disk from another: its size, its time
// of last change and which file it is (inode, or Windows file index).  A
// file rewritten or truncated in place, or replaced by another, changes it.
struct FileStamp {
    uint64_t size = 0;
    int64_t modified = 0;
    uint64_t identity = 0;
    bool operator==(const FileStamp& o) const {
        return size == o.size && modified == o.modified && identity == o.identity;
    }
    bool operator!=(const FileStamp& o) const { return !(*this == o); }
};
// The stamp of the file at `path` now; false when it cannot be read.
bool stampOf(const std::string& path, FileStamp* out);

// A file opened for reading.  Only a regular file on a disk opens: a
// directory, a FIFO or a device that carries the name counts as missing, and
// opening never waits (a FIFO without a writer cannot hang the engine).
class ReadOnlyFile {
  public:
    ReadOnlyFile() = default;
    ~ReadOnlyFile() { close(); }
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    bool open(const std::string& path);
    void close();
    bool isOpen() const { return handle_ != -1; }
    uint64_t size() const { return size_; }
    // The file's stamp as it was opened.
    const FileStamp& stamp() const { return stamp_; }
    // The whole file into `out` (size() bytes); false on a short read.
    bool readAll(void* out) const;
    // The whole file mapped read-only, shared with every other mapping of
    // it; null when it cannot be mapped (an empty file, no address space).
    // The mapping outlives the open file; unmapFile releases it.
    const uint8_t* mapAll() const;

  private:
    intptr_t handle_ = -1;
    uint64_t size_ = 0;
    FileStamp stamp_;
};
void unmapFile(const uint8_t* data, uint64_t size);

// Opens `in` on the file at a UTF-8 path; false when it cannot be read.
bool openForReading(std::ifstream& in, const std::string& path);

// The running program's file (UTF-8), or "" when the system does not tell.
std::string programPath();
// Its directory, ending in the directory separator, or "".
std::string programDirectory();

// The separator of a list of directories (SyzygyPath): ';' on Windows, where
// ':' follows a drive letter, ':' elsewhere.
#if defined(_WIN32)
constexpr char PATH_LIST_SEPARATOR = ';';
#else
constexpr char PATH_LIST_SEPARATOR = ':';
#endif

// Ends the program with `status` after flushing standard output, as a return
// from main would.  On Windows the C runtime's exit takes the lock of every
// stream first, standard input's among them, which a thread waiting for a line
// of input holds: the program would never end.  So there the process ends at
// once, the output flushed (nothing else is left to do at that point).
[[noreturn]] void endProgram(int status);

// ---------------------------------------------------------------------------
// Start-up, before the C++ runtime is set up
// ---------------------------------------------------------------------------

// Both may run before any static constructor: no allocation, no streams.
// The name of the program without its directory (and without ".exe"): from
// `argv0`, the name it was started by, when given, else from the system.
void programName(const char* argv0, char* out, size_t size);
// Writes `line` and a line end to the error output and ends the process with
// status 1 at once.
[[noreturn]] void failAtStart(const char* line);

}  // namespace platform

// TW_RUN_BEFORE_CONSTRUCTORS(fn) has `void fn(const char* argv0)` called as
// the program starts, before the static constructors of the program and of
// the libraries linked into it.  On ELF systems it is put in .preinit_array,
// whose functions the loader calls with the program's arguments; on Windows in
// the C runtime's table of C initialisers (.CRT$XIB), which mingw-w64's
// start-up code calls, without arguments, before the C++ constructors.
#if defined(_WIN32)
#define TW_RUN_BEFORE_CONSTRUCTORS(fn)             \
    static void fn##AtStart(void) { fn(nullptr); } \
    __attribute__((section(".CRT$XIB"), used)) void (*fn##StartEntry)(void) = fn##AtStart;
#else
#define TW_RUN_BEFORE_CONSTRUCTORS(fn)                                                                   \
    static void fn##AtStart(int argc, char** argv, char**) { fn(argc > 0 && argv ? argv[0] : nullptr); } \
    __attribute__((section(".preinit_array"), used)) void (*fn##StartEntry)(int, char**, char**) = fn##AtStart;
#endif
