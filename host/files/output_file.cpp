#include "host/files/output_file.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>

#include "host/files/utf8_path.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#endif

namespace fs = std::filesystem;

namespace {

std::string Reason() { return std::strerror(errno); }

// Set by the first rename of a run: a stop after it would leave the run's
// outputs half old, half new.
std::atomic<bool> g_replacedOne{false};

void RegisterTemp(const std::string& path) { RememberTemporaryFile(path); }
void ForgetTemp(const std::string& path) { ForgetTemporaryFile(path); }

#ifdef _WIN32

std::wstring Wide(const std::string& path) { return Utf8Path(path).wstring(); }

// Devices ("NUL", "CON") and pipes open as something other than a disk file.
bool IsRegularOrAbsent(const std::string& path) {
    HANDLE handle = CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return true;
    BY_HANDLE_FILE_INFORMATION information;
    const bool regular = GetFileType(handle) == FILE_TYPE_DISK &&
                         GetFileInformationByHandle(handle, &information) &&
                         !(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    CloseHandle(handle);
    return regular;
}

std::FILE* CreateTemp(const std::string& beside, std::string& tempPath) {
    const fs::path target = Utf8Path(beside);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = target.parent_path() /
                                   (L"." + target.filename().wstring() + L".kelo-" +
                                    std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(attempt));
        const int fd = _wopen(candidate.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) return nullptr;
        tempPath = Utf8String(candidate);
        RegisterTemp(tempPath);
        std::FILE* file = _fdopen(fd, "wb");
        if (!file) {
            _close(fd);
            _wremove(candidate.c_str());
            ForgetTemp(tempPath);
        }
        return file;
    }
    errno = EEXIST;
    return nullptr;
}

bool RenameOver(const std::string& from, const std::string& to) {
    if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    errno = EACCES;
    return false;
}

void RemoveFile(const std::string& path) { _wremove(Wide(path).c_str()); }
bool CutTo(std::FILE* file, uint64_t size) { return _chsize_s(_fileno(file), int64_t(size)) == 0; }
uint64_t Position(std::FILE* file) { return uint64_t(_ftelli64(file)); }
bool SyncToDisk(std::FILE* file) { return _commit(_fileno(file)) == 0; }

std::FILE* OpenDirect(const std::string& path) {
    return _wfopen(Wide(path).c_str(), L"wb");
}

// Only a disk file can be overwritten by reading it.
FileIdentity Identify(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION information;
    FileIdentity identity;
    if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(handle, &information)) {
        return identity;
    }
    identity.known = true;
    identity.device = information.dwVolumeSerialNumber;
    identity.inode = (uint64_t(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    return identity;
}

FileIdentity IdentifyOpen(const std::string& path) {
    HANDLE handle = CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    const FileIdentity identity = Identify(handle);
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    return identity;
}

FileIdentity IdentifyStream(int which) {
    return Identify(GetStdHandle(which == 0 ? STD_INPUT_HANDLE : STD_OUTPUT_HANDLE));
}

#else

// The file a chain of symlinks ends at, existing or not: that is the file a
// write through the link replaces.
std::string ThroughLinks(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat status;
        if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return path;
        std::error_code error;
        const fs::path target = fs::read_symlink(path, error);
        if (error) return path;
        path = target.is_absolute() ? target.string() : (fs::path(path).parent_path() / target).string();
    }
    return path;
}

bool IsRegularOrAbsent(const std::string& path) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0) return true;
    return S_ISREG(status.st_mode);
}

std::FILE* CreateTemp(const std::string& beside, std::string& tempPath) {
    const fs::path target(beside);
    std::string name = (target.parent_path() / ("." + target.filename().string() + ".kelo-XXXXXX")).string();
    // A second stop signal removes the temporary files it knows of, so none
    // may exist before it knows of it.
    sigset_t stops, before;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stops, &before);
    const int fd = mkstemp(name.data());
    if (fd >= 0) RegisterTemp(name);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    if (fd < 0) return nullptr;
    tempPath = name;
    // The replaced file keeps its mode (and owner, where allowed); a new one
    // gets what a plain create would have given it.
    struct stat status;
    if (stat(beside.c_str(), &status) == 0) {
        if (fchown(fd, status.st_uid, status.st_gid) != 0) {
            // Not ours to give away: the file is the caller's from now on.
        }
        fchmod(fd, status.st_mode & 07777);
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, 0666 & ~mask);
    }
    std::FILE* file = fdopen(fd, "wb");
    if (!file) {
        const int saved = errno;
        close(fd);
        unlink(name.c_str());
        ForgetTemp(name);
        errno = saved;
    }
    return file;
}

bool RenameOver(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()) == 0; }
void RemoveFile(const std::string& path) { unlink(path.c_str()); }
bool CutTo(std::FILE* file, uint64_t size) { return ftruncate(fileno(file), off_t(size)) == 0; }
uint64_t Position(std::FILE* file) { return uint64_t(ftello(file)); }
bool SyncToDisk(std::FILE* file) { return fsync(fileno(file)) == 0; }
std::FILE* OpenDirect(const std::string& path) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0 || !S_ISFIFO(status.st_mode)) return std::fopen(path.c_str(), "wb");
    // Opening a FIFO waits for a reader where no stop can end it; asking
    // again every few milliseconds can.
    constexpr int kReaderPollMilliseconds = 20;
    for (;;) {
        const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0 && errno == ENXIO) {
            SleepUnlessStopped(kReaderPollMilliseconds);
            continue;
        }
        if (fd < 0) return nullptr;
        const int flags = fcntl(fd, F_GETFL);
        std::FILE* file = nullptr;
        if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0 || !(file = fdopen(fd, "wb"))) {
            const int saved = errno;
            close(fd);
            errno = saved;
        }
        return file;
    }
}

// Only a regular file can be overwritten by reading it: /dev/null as input
// and output at once is fine.
FileIdentity Identify(int result, const struct stat& status) {
    FileIdentity identity;
    if (result != 0 || !S_ISREG(status.st_mode)) return identity;
    identity.known = true;
    identity.device = uint64_t(status.st_dev);
    identity.inode = uint64_t(status.st_ino);
    return identity;
}

FileIdentity IdentifyOpen(const std::string& path) {
    struct stat status;
    const int result = stat(path.c_str(), &status);
    return Identify(result, status);
}

FileIdentity IdentifyStream(int fd) {
    struct stat status;
    const int result = fstat(fd, &status);
    return Identify(result, status);
}

#endif

}  // namespace

OutputFile::OutputFile(std::string displayName, std::string path)
    : displayName_(std::move(displayName)), path_(std::move(path)) {
    if (path_ == "-") {
        direct_ = true;
        file_ = stdout;
#ifdef _WIN32
        _setmode(_fileno(stdout), _O_BINARY);
#endif
    } else {
#ifdef _WIN32
        finalPath_ = path_;
#else
        // A name that cannot be followed (a loop of symlinks) is not one to
        // put a new file in the place of.
        struct stat status;
        if (stat(path_.c_str(), &status) != 0 && errno != ENOENT) {
            throw IoError(displayName_ + ": cannot create: " + Reason());
        }
        finalPath_ = ThroughLinks(path_);
#endif
        direct_ = !IsRegularOrAbsent(finalPath_);
        file_ = direct_ ? OpenDirect(path_) : CreateTemp(finalPath_, tempPath_);
        if (!file_) throw IoError(displayName_ + ": cannot create: " + Reason());
        ownsFile_ = true;
    }
    output_.emplace(file_, displayName_);
}

OutputFile::~OutputFile() {
    if (!done_) Abandon(false);
}

void OutputFile::MarkWhole() {
    output_->Flush();
    if (direct_) return;
    wholeBytes_ = Position(file_);
    ++wholeMarks_;
}

void OutputFile::Commit() {
    if (done_) return;
    output_->Flush();
    output_->Close();
    if (!ownsFile_) {
        done_ = true;
        return;
    }
    // Devices may refuse to sync; only a replaced file must be on the disk
    // before it takes the old one's place.
    if (!direct_ && !SyncToDisk(file_)) throw IoError(displayName_ + ": cannot write: " + Reason());
    std::FILE* file = file_;
    file_ = nullptr;
    done_ = true;
    if (std::fclose(file) != 0) {
        const std::string reason = Reason();
        if (!direct_) {
            RemoveFile(tempPath_);
            ForgetTemp(tempPath_);
        }
        throw IoError(displayName_ + ": cannot write: " + reason);
    }
    if (direct_) return;
    // As late as can be: a stop asked for after this check finds the file
    // replaced, and the run goes on to report its success.
    if (const int signal = StopSignal(); signal != 0 && !g_replacedOne) {
        RemoveFile(tempPath_);
        ForgetTemp(tempPath_);
        throw Stopped(signal);
    }
    if (!RenameOver(tempPath_, finalPath_)) {
        const std::string reason = Reason();
        RemoveFile(tempPath_);
        ForgetTemp(tempPath_);
        throw IoError(displayName_ + ": cannot replace: " + reason);
    }
    g_replacedOne = true;
    ForgetTemp(tempPath_);
}

std::string OutputFile::Abandon(bool keepWhole) {
    if (done_) return "";
    done_ = true;
    std::FILE* file = file_;
    file_ = nullptr;
    if (direct_) {
        output_->Close();
        if (ownsFile_) std::fclose(file);
        else std::fflush(file);
        return "";
    }
    std::fflush(file);
    std::string kept;
    if (keepWhole && wholeMarks_ > 0 && CutTo(file, wholeBytes_)) {
        const std::string partial = finalPath_ + ".partial";
        if (std::fclose(file) == 0 && RenameOver(tempPath_, partial)) {
            kept = finalPath_ == path_ ? displayName_ + ".partial" : partial;
        }
        file = nullptr;
    }
    if (file) std::fclose(file);
    if (kept.empty()) RemoveFile(tempPath_);
    ForgetTemp(tempPath_);
    return kept;
}

void WriteWholeFile(const std::string& displayName, const std::string& path, std::string_view bytes) {
    OutputFile file(displayName, path);
    file.output().Write(bytes.data(), bytes.size());
    file.Commit();
}

FileIdentity IdentifyPath(const std::string& path) { return IdentifyOpen(path); }
FileIdentity IdentifyStandardStream(int fd) { return IdentifyStream(fd); }
