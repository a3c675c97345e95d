// The system calls behind platform.h, for Linux (and other POSIX systems),
// for Windows, and for the WebAssembly build, which shares the POSIX code
// except for the table's memory.  See platform.h for what each function
// promises.
#include "platform.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace platform {

// ---------------------------------------------------------------------------
// Control groups (read as plain files: the code builds everywhere, and only
// Linux has the files)
// ---------------------------------------------------------------------------

namespace {

// The first number in a cgroup limit file; "max" (no limit), a missing file
// or anything unreadable gives no limit.
uint64_t readCgroupLimit(const std::string& file) {
    std::ifstream in(file);
    uint64_t v = 0;
    if (!(in >> v)) return ~0ULL;
    return v;
}

// The smallest limit of the cgroup at `path` (as listed in /proc/self/cgroup)
// and its ancestors, under the hierarchy mounted at `mount`.  A process in a
// cgroup namespace sees its own group as the root of the mount, so the mount
// root itself is always looked at.
uint64_t cgroupTreeLimit(const std::string& mount, std::string path, const char* fileName) {
    uint64_t limit = ~0ULL;
    for (int depth = 0; depth < 64; depth++) {
        while (!path.empty() && path.back() == '/') path.pop_back();
        limit = std::min(limit, readCgroupLimit(mount + path + "/" + fileName));
        if (path.empty()) break;
        const size_t slash = path.rfind('/');
        path.erase(slash == std::string::npos ? 0 : slash);
    }
    return limit;
}

}  // namespace

uint64_t cgroupMemoryLimit(uint64_t physicalBytes, const std::string& procCgroupFile, const std::string& cgroupRoot) {
    uint64_t limit = physicalBytes;
    std::ifstream in(procCgroupFile);
    std::string line;
    while (std::getline(in, line)) {
        // "hierarchy-id:controllers:path"; the unified hierarchy has id 0 and
        // no controller list, the older one lists "memory" among others.
        const size_t a = line.find(':');
        const size_t b = a == std::string::npos ? a : line.find(':', a + 1);
        if (b == std::string::npos) continue;
        const std::string controllers = line.substr(a + 1, b - a - 1);
        const std::string path = line.substr(b + 1);
        if (line.compare(0, a, "0") == 0 && controllers.empty()) {
            limit = std::min(limit, cgroupTreeLimit(cgroupRoot, path, "memory.max"));
        } else {
            std::istringstream list(controllers);
            std::string c;
            while (std::getline(list, c, ','))
                if (c == "memory")
                    limit = std::min(limit, cgroupTreeLimit(cgroupRoot + "/memory", path, "memory.limit_in_bytes"));
        }
    }
    return limit;
}

namespace {

// The part of a path after its last directory separator.
const char* baseName(const char* path) {
    const char* name = path;
    for (const char* c = path; *c; c++)
#if defined(_WIN32)
        if (*c == '/' || *c == '\\') name = c + 1;
#else
        if (*c == '/') name = c + 1;
#endif
    return name;
}

// Copies `text` into `out` of `size` bytes, cut to fit, always terminated.
void copyCut(const char* text, size_t length, char* out, size_t size) {
    if (size == 0) return;
    const size_t n = length < size - 1 ? length : size - 1;
    std::memcpy(out, text, n);
    out[n] = '\0';
}

}  // namespace

std::string programDirectory() {
    const std::string path = programPath();
    const size_t cut = (size_t)(baseName(path.c_str()) - path.c_str());
    return path.substr(0, cut);
}

#if defined(_WIN32)

// ===========================================================================
// Windows
// ===========================================================================

namespace {

// UTF-8 to UTF-16; text that is not valid UTF-8 is read in the ANSI code page.
std::wstring widen(const std::string& s) {
    if (s.empty()) return std::wstring();
    UINT codePage = CP_UTF8;
    DWORD flags = MB_ERR_INVALID_CHARS;
    int n = MultiByteToWideChar(codePage, flags, s.data(), (int)s.size(), nullptr, 0);
    if (n <= 0) {
        codePage = CP_ACP;
        flags = 0;
        n = MultiByteToWideChar(codePage, flags, s.data(), (int)s.size(), nullptr, 0);
        if (n <= 0) return std::wstring();
    }
    std::wstring w((size_t)n, L'\0');
    MultiByteToWideChar(codePage, flags, s.data(), (int)s.size(), &w[0], n);
    return w;
}

std::string narrow(const wchar_t* w, int length) {
    if (length <= 0) return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, w, length, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string s((size_t)n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w, length, &s[0], n, nullptr, nullptr);
    return s;
}

// Large pages need the "Lock pages in memory" privilege (SeLockMemoryPrivilege)
// enabled in the process's token.  The functions for that live in advapi32,
// which is looked up when first needed, so that the program itself imports
// nothing but the kernel and the C runtime.  Returns the large-page size, or
// 0 when large pages cannot be had.
size_t largePageBytesOnce() {
    const SIZE_T minimum = GetLargePageMinimum();
    if (minimum == 0) return 0;
    HMODULE advapi = LoadLibraryW(L"advapi32.dll");
    if (!advapi) return 0;
    using OpenProcessTokenFn = BOOL(WINAPI*)(HANDLE, DWORD, PHANDLE);
    using LookupPrivilegeValueFn = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, PLUID);
    using AdjustTokenPrivilegesFn = BOOL(WINAPI*)(HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD, PTOKEN_PRIVILEGES, PDWORD);
    auto openToken = reinterpret_cast<OpenProcessTokenFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(advapi, "OpenProcessToken")));
    auto lookup = reinterpret_cast<LookupPrivilegeValueFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(advapi, "LookupPrivilegeValueW")));
    auto adjust = reinterpret_cast<AdjustTokenPrivilegesFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(advapi, "AdjustTokenPrivileges")));
    bool enabled = false;
    HANDLE token = nullptr;
    if (openToken && lookup && adjust &&
        openToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        TOKEN_PRIVILEGES privileges{};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        // AdjustTokenPrivileges succeeds without the privilege too, and says
        // so only through the last error.
        if (lookup(nullptr, L"SeLockMemoryPrivilege", &privileges.Privileges[0].Luid) &&
            adjust(token, FALSE, &privileges, 0, nullptr, nullptr) && GetLastError() == ERROR_SUCCESS)
            enabled = true;
        CloseHandle(token);
    }
    return enabled ? (size_t)minimum : 0;
}

size_t largePageBytes() {
    static const size_t bytes = largePageBytesOnce();
    return bytes;
}

}  // namespace

void* allocateZeroed(size_t bytes) {
    // Large pages are committed, locked and zeroed at once; the system may
    // lack that much contiguous memory, and then ordinary pages will do.
    const size_t large = largePageBytes();
    if (large && bytes >= large) {
        const size_t rounded = (bytes + large - 1) / large * large;
        if (void* p = VirtualAlloc(nullptr, rounded, MEM_RESERVE | MEM_COMMIT | MEM_LARGE_PAGES, PAGE_READWRITE))
            return p;
    }
    return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void releaseMemory(void* p, size_t) {
    if (p) VirtualFree(p, 0, MEM_RELEASE);
}

size_t pageBytes() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwPageSize;
}

// Windows has no transparent huge pages and no way to fault pages in without
// writing them.
PageRequest populatePages(void*, size_t) { return PageRequest::UNSUPPORTED; }
void preferHugePages(void*, size_t) {}
void preferSmallPages(void*, size_t) {}
PageRequest collapseHugePages(void*, size_t) { return PageRequest::UNSUPPORTED; }

// Decommitted and committed again, the range reads as zero, and its pages
// cost nothing until they are used: writing zeros over them instead would
// fault in every page of a large table on one thread (several seconds per
// gigabyte under Wine).  Large pages cannot be decommitted; they are in
// memory anyway, and are written over.
bool discardPages(void* p, size_t bytes) {
    if (!VirtualFree(p, bytes, MEM_DECOMMIT)) {
        std::memset(p, 0, bytes);
        return true;
    }
    return VirtualAlloc(p, bytes, MEM_COMMIT, PAGE_READWRITE) != nullptr;
}

uint64_t physicalMemory() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? (uint64_t)status.ullTotalPhys : ~0ULL;
}

uint64_t processMemoryLimit() {
    uint64_t limit = physicalMemory();
    // A job object (a container, a sandboxing GUI) may cap the process or the
    // whole job.
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION job{};
    if (QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &job, sizeof job, nullptr)) {
        const DWORD flags = job.BasicLimitInformation.LimitFlags;
        if (flags & JOB_OBJECT_LIMIT_PROCESS_MEMORY) limit = std::min<uint64_t>(limit, job.ProcessMemoryLimit);
        if (flags & JOB_OBJECT_LIMIT_JOB_MEMORY) limit = std::min<uint64_t>(limit, job.JobMemoryLimit);
    }
    return limit;
}

// A 64-bit Windows process has terabytes of address space, and a job limits
// memory, not address space.
uint64_t addressSpaceLeft() { return ~0ULL; }
uint64_t threadStackBytes() { return 1u << 20; }

bool ReadOnlyFile::open(const std::string& path) {
    close();
    const std::wstring name = widen(path);
    if (name.empty()) return false;
    // Without FILE_FLAG_BACKUP_SEMANTICS a directory does not open; pipes and
    // character devices do, and are turned away by their type.
    HANDLE h = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_RANDOM_ACCESS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    LARGE_INTEGER size;
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !GetFileSizeEx(h, &size) || size.QuadPart < 0) {
        CloseHandle(h);
        return false;
    }
    handle_ = reinterpret_cast<intptr_t>(h);
    size_ = (uint64_t)size.QuadPart;
    stamp_.size = size_;
    stamp_.modified = (int64_t)(((uint64_t)info.ftLastWriteTime.dwHighDateTime << 32) |
                                info.ftLastWriteTime.dwLowDateTime);
    stamp_.identity = ((uint64_t)info.nFileIndexHigh << 32) | info.nFileIndexLow;
    return true;
}

bool stampOf(const std::string& path, FileStamp* out) {
    ReadOnlyFile file;
    if (!file.open(path)) return false;
    *out = file.stamp();
    return true;
}

void ReadOnlyFile::close() {
    if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = -1;
    size_ = 0;
}

bool ReadOnlyFile::readAll(void* out) const {
    if (handle_ == -1) return false;
    HANDLE h = reinterpret_cast<HANDLE>(handle_);
    char* to = static_cast<char*>(out);
    for (uint64_t done = 0; done < size_;) {
        OVERLAPPED at{};
        at.Offset = (DWORD)done;
        at.OffsetHigh = (DWORD)(done >> 32);
        const DWORD chunk = (DWORD)std::min<uint64_t>(size_ - done, 1u << 30);
        DWORD got = 0;
        if (!ReadFile(h, to + done, chunk, &got, &at) || got == 0) return false;
        done += got;
    }
    return true;
}

const uint8_t* ReadOnlyFile::mapAll() const {
    if (handle_ == -1 || size_ == 0) return nullptr;
    HANDLE mapping = CreateFileMappingW(reinterpret_cast<HANDLE>(handle_), nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (!mapping) return nullptr;
    // The view keeps the mapping object alive after its handle is closed.
    void* data = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    CloseHandle(mapping);
    return static_cast<const uint8_t*>(data);
}

void unmapFile(const uint8_t* data, uint64_t) {
    if (data && !UnmapViewOfFile(data)) std::fprintf(stderr, "UnmapViewOfFile: error %lu\n", GetLastError());
}

bool openForReading(std::ifstream& in, const std::string& path) {
    in.open(widen(path).c_str());
    return in.is_open();
}

std::string programPath() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, &buffer[0], (DWORD)buffer.size());
        if (n == 0) return std::string();
        if (n < buffer.size()) return narrow(buffer.c_str(), (int)n);
        if (buffer.size() >= 32768) return std::string();  // the longest path Windows has
        buffer.resize(buffer.size() * 2);
    }
}

void programName(const char* argv0, char* out, size_t size) {
    if (size == 0) return;
    out[0] = '\0';
    if (argv0 && *argv0) {
        copyCut(baseName(argv0), std::strlen(baseName(argv0)), out, size);
    } else {
        wchar_t path[4096];
        const DWORD n = GetModuleFileNameW(nullptr, path, sizeof path / sizeof path[0]);
        if (n == 0 || n >= sizeof path / sizeof path[0]) return;
        const wchar_t* name = path;
        for (const wchar_t* c = path; *c; c++)
            if (*c == L'\\' || *c == L'/') name = c + 1;
        const int written = WideCharToMultiByte(CP_UTF8, 0, name, -1, out, (int)std::min<size_t>(size, 1u << 20),
                                                nullptr, nullptr);
        if (written <= 0) out[0] = '\0';
    }
    // "tarnwick-bmi.exe" is the program tarnwick-bmi.
    const size_t length = std::strlen(out);
    if (length > 4 && _stricmp(out + length - 4, ".exe") == 0) out[length - 4] = '\0';
}

void endProgram(int status) {
    std::fflush(stdout);
    std::fflush(stderr);
    ExitProcess((UINT)status);
}

void failAtStart(const char* line) {
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (error && error != INVALID_HANDLE_VALUE) {
        DWORD written;
        WriteFile(error, line, (DWORD)std::strlen(line), &written, nullptr);
        WriteFile(error, "\r\n", 2, &written, nullptr);
    }
    ExitProcess(1);
}

#else

// ===========================================================================
// Linux and other POSIX systems
// ===========================================================================

// MADV_COLLAPSE came with Linux 6.1; C libraries older than the kernel (glibc
// 2.36 among them) lack the name.  The number is Linux's, so it is supplied
// on Linux only: elsewhere collapseHugePages says it cannot.
#if defined(__linux__) && !defined(MADV_COLLAPSE)
#define MADV_COLLAPSE 25
#endif

#if defined(__EMSCRIPTEN__)

// WebAssembly has no virtual memory to map or advise: the table is taken
// from the heap (which grows as needed) and zeroed at once, so it is in
// memory when it is handed out.
void* allocateZeroed(size_t bytes) {
    void* p = std::aligned_alloc(64, (bytes + 63) & ~(size_t)63);
    if (p) std::memset(p, 0, bytes);
    return p;
}

void releaseMemory(void* p, size_t) { std::free(p); }

size_t pageBytes() { return 65536; }

PageRequest populatePages(void*, size_t) { return PageRequest::DONE; }
void preferHugePages(void*, size_t) {}
void preferSmallPages(void*, size_t) {}
PageRequest collapseHugePages(void*, size_t) { return PageRequest::UNSUPPORTED; }
bool discardPages(void* p, size_t bytes) {
    std::memset(p, 0, bytes);
    return true;
}

// The module's memory may grow to 2 GB, whatever the machine has.
uint64_t physicalMemory() { return (uint64_t)2 << 30; }
uint64_t processMemoryLimit() { return physicalMemory(); }
// Thread stacks come from the module's memory, which processMemoryLimit
// already bounds.
uint64_t addressSpaceLeft() { return ~0ULL; }
uint64_t threadStackBytes() { return 4u << 20; }

#else

namespace {
constexpr size_t HUGE_PAGE_BYTES = 2u << 20;
}

void* allocateZeroed(size_t bytes) {
    // An anonymous mapping (zero-filled by the kernel) of `bytes` that starts
    // on a huge-page boundary: a larger one is mapped and its ends trimmed.
    const size_t span = bytes + HUGE_PAGE_BYTES;
    void* p = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    const uintptr_t start = (uintptr_t)p;
    const uintptr_t aligned = (start + HUGE_PAGE_BYTES - 1) & ~(uintptr_t)(HUGE_PAGE_BYTES - 1);
    const size_t page = pageBytes();
    const uintptr_t end = (aligned + bytes + page - 1) & ~(uintptr_t)(page - 1);
    if (aligned > start) munmap(p, aligned - start);
    if (start + span > end) munmap((void*)end, start + span - end);
    return (void*)aligned;
}

void releaseMemory(void* p, size_t bytes) {
    if (p && bytes) munmap(p, bytes);
}

size_t pageBytes() { return (size_t)sysconf(_SC_PAGE_SIZE); }

PageRequest populatePages(void* p, size_t bytes) {
#ifdef MADV_POPULATE_WRITE
    if (madvise(p, bytes, MADV_POPULATE_WRITE) == 0) return PageRequest::DONE;
    return errno == EINVAL ? PageRequest::UNSUPPORTED : PageRequest::FAILED;  // EINVAL: an older kernel
#else
    (void)p, (void)bytes;
    return PageRequest::UNSUPPORTED;
#endif
}

void preferHugePages(void* p, size_t bytes) {
#ifdef MADV_HUGEPAGE
    madvise(p, bytes, MADV_HUGEPAGE);
#else
    (void)p, (void)bytes;
#endif
}

void preferSmallPages(void* p, size_t bytes) {
#ifdef MADV_NOHUGEPAGE
    madvise(p, bytes, MADV_NOHUGEPAGE);
#else
    (void)p, (void)bytes;
#endif
}

PageRequest collapseHugePages(void* p, size_t bytes) {
#ifdef MADV_COLLAPSE
    if (madvise(p, bytes, MADV_COLLAPSE) == 0) return PageRequest::DONE;
    // EINVAL: no synchronous collapse; the kernel's own scanner does it in time.
    return errno == EINVAL ? PageRequest::UNSUPPORTED : PageRequest::FAILED;
#else
    (void)p, (void)bytes;
    return PageRequest::UNSUPPORTED;
#endif
}

bool discardPages(void* p, size_t bytes) {
    // Dropped pages of a private anonymous mapping read back as zero.
    if (madvise(p, bytes, MADV_DONTNEED) != 0) std::memset(p, 0, bytes);
    return true;
}

uint64_t physicalMemory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    return pages > 0 && pageSize > 0 ? (uint64_t)pages * (uint64_t)pageSize : ~0ULL;
}

uint64_t processMemoryLimit() { return cgroupMemoryLimit(physicalMemory(), "/proc/self/cgroup", "/sys/fs/cgroup"); }

uint64_t addressSpaceLeft() {
    struct rlimit limit;
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return ~0ULL;
    // The process's mapped size, in pages, is the first number of statm.
    std::ifstream statm("/proc/self/statm");
    uint64_t pages = 0;
    if (!(statm >> pages)) return limit.rlim_cur / 2;  // no /proc: assume half is used
    const uint64_t used = pages * pageBytes();
    return limit.rlim_cur > used ? limit.rlim_cur - used : 0;
}

uint64_t threadStackBytes() {
    // The C library gives each new thread a stack of the size of the stack
    // limit, and 32 MB when there is none.
    struct rlimit limit;
    if (getrlimit(RLIMIT_STACK, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 32u << 20;
    return std::max<uint64_t>(limit.rlim_cur, 1u << 20);
}

#endif  // __EMSCRIPTEN__

// The files, the program's path and the program's end, below, serve the
// WebAssembly build as well: Emscripten's C library provides open, fstat,
// pread, mmap and readlink over its in-memory file system.  A page has no
// tablebase directory (SyzygyPath is ignored there) and preloads no files, so
// the readers find nothing and say so; a change here must still build there.
namespace {
FileStamp stampOfStat(const struct stat& st) {
    FileStamp stamp;
    stamp.size = (uint64_t)st.st_size;
#if defined(__APPLE__)
    stamp.modified = (int64_t)st.st_mtimespec.tv_sec * 1000000000 + st.st_mtimespec.tv_nsec;
#else
    stamp.modified = (int64_t)st.st_mtim.tv_sec * 1000000000 + st.st_mtim.tv_nsec;
#endif
    stamp.identity = (uint64_t)st.st_ino ^ ((uint64_t)st.st_dev << 40);
    return stamp;
}
}  // namespace

bool ReadOnlyFile::open(const std::string& path) {
    close();
    // Non-blocking, so that a FIFO without a writer cannot hang the engine;
    // fstat turns away everything but a regular file before it is read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
        ::close(fd);
        return false;
    }
    handle_ = fd;
    size_ = (uint64_t)st.st_size;
    stamp_ = stampOfStat(st);
    return true;
}

bool stampOf(const std::string& path, FileStamp* out) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    *out = stampOfStat(st);
    return true;
}

void ReadOnlyFile::close() {
    if (handle_ != -1) ::close((int)handle_);
    handle_ = -1;
    size_ = 0;
}

bool ReadOnlyFile::readAll(void* out) const {
    if (handle_ == -1) return false;
    char* to = static_cast<char*>(out);
    for (uint64_t done = 0; done < size_;) {
        const ssize_t got = pread((int)handle_, to + done, (size_t)(size_ - done), (off_t)done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        done += (uint64_t)got;
    }
    return true;
}

const uint8_t* ReadOnlyFile::mapAll() const {
    if (handle_ == -1 || size_ == 0) return nullptr;
    void* data = mmap(nullptr, (size_t)size_, PROT_READ, MAP_SHARED, (int)handle_, 0);
    return data == MAP_FAILED ? nullptr : static_cast<const uint8_t*>(data);
}

void unmapFile(const uint8_t* data, uint64_t size) {
    if (data && munmap(const_cast<uint8_t*>(data), (size_t)size) != 0) std::perror("munmap");
}

bool openForReading(std::ifstream& in, const std::string& path) {
    in.open(path);
    return in.is_open();
}

std::string programPath() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path);
    if (n <= 0 || (size_t)n >= sizeof path) return std::string();
    return std::string(path, (size_t)n);
}

void programName(const char* argv0, char* out, size_t size) {
    if (size == 0) return;
    out[0] = '\0';
    if (argv0 && *argv0) copyCut(baseName(argv0), std::strlen(baseName(argv0)), out, size);
}

void endProgram(int status) { std::exit(status); }

void failAtStart(const char* line) {
    // One write(2) of the whole line: stdio may not be set up yet.
    char text[512];
    size_t n = std::strlen(line);
    if (n > sizeof text - 1) n = sizeof text - 1;
    std::memcpy(text, line, n);
    text[n++] = '\n';
    for (size_t done = 0; done < n;) {
        const ssize_t w = write(2, text + done, n - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) break;
        done += (size_t)w;
    }
    _exit(1);
}

#endif

}  // namespace platform
