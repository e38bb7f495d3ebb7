#include "Streams.h"

#include "FileUtils.h"
#include "PosixFile.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

std::int64_t TStream::Size()
{
    std::int64_t position = Seek(0, Origin::Current);
    std::int64_t size = Seek(0, Origin::End);
    Seek(position, Origin::Beginning);
    return size;
}

void TStream::WriteBuffer(const void* buffer, std::int32_t count)
{
    if (count > 0 && Write(buffer, count) != count) throw EStreamError("Stream write error");
}

// ---- TMemoryStream --------------------------------------------------------

std::int32_t TMemoryStream::Read(void* buffer, std::int32_t count)
{
    if (count <= 0 || m_Position >= static_cast<std::int64_t>(m_Data.size())) return 0;
    auto available = static_cast<std::int64_t>(m_Data.size()) - m_Position;
    auto n = static_cast<std::int32_t>(std::min<std::int64_t>(count, available));
    std::memcpy(buffer, m_Data.data() + m_Position, static_cast<std::size_t>(n));
    m_Position += n;
    return n;
}

std::int32_t TMemoryStream::Write(const void* buffer, std::int32_t count)
{
    if (count <= 0) return 0;
    auto end = static_cast<std::size_t>(m_Position) + static_cast<std::size_t>(count);
    if (end > m_Data.size()) m_Data.resize(end);  // a gap after a seek past the end reads as zeros
    std::memcpy(m_Data.data() + m_Position, buffer, static_cast<std::size_t>(count));
    m_Position = static_cast<std::int64_t>(end);
    return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, Origin origin)
{
    std::int64_t base = origin == Origin::Beginning ? 0
                      : origin == Origin::Current   ? m_Position
                                                    : static_cast<std::int64_t>(m_Data.size());
    std::int64_t target = base + offset;
    if (target < 0) throw EStreamError("Seek before the beginning of a memory stream");
    if (target > std::numeric_limits<std::int32_t>::max())
        throw EStreamError("Seek past the largest size of a memory stream");
    m_Position = target;
    return m_Position;
}

// ---- TFileStream ----------------------------------------------------------

namespace {

[[noreturn]] void Raise(const std::string& what, const std::string& path, DWORD error)
{
    throw EStreamError(what + " \"" + path + "\": " + WinErrorText(error));
}

}  // namespace

TFileStream::TFileStream(const std::string& path, Mode mode)
    : m_Path(path)
{
    DWORD access = GENERIC_READ;
    DWORD share = FILE_SHARE_READ;
    DWORD disposition = OPEN_EXISTING;
    if (mode == Mode::Create) {
        access = GENERIC_READ | GENERIC_WRITE;
        share = 0;
        disposition = CREATE_ALWAYS;
    } else if (mode == Mode::OpenReadWrite) {
        access = GENERIC_READ | GENERIC_WRITE;
        share = 0;
    }
    DWORD error = ERROR_SUCCESS;
    bool existed = false;
    m_Fd = OpenSharedFile(NativePath(path), access, share, disposition, error, existed);
    if (m_Fd < 0) Raise(mode == Mode::Create ? "Cannot create file" : "Cannot open file", path, error);
}

TFileStream::~TFileStream()
{
    if (m_Fd >= 0) close(m_Fd);
}

std::int32_t TFileStream::Read(void* buffer, std::int32_t count)
{
    if (count <= 0) return 0;
    std::int32_t done = 0;
    auto* bytes = static_cast<char*>(buffer);
    while (done < count) {
        ssize_t n = ::read(m_Fd, bytes + done, static_cast<std::size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) Raise("Cannot read from file", m_Path, WinErrorFromErrno(errno, {}));
        if (n == 0) break;
        done += static_cast<std::int32_t>(n);
    }
    return done;
}

std::int32_t TFileStream::Write(const void* buffer, std::int32_t count)
{
    if (count <= 0) return 0;
    std::int32_t done = 0;
    const auto* bytes = static_cast<const char*>(buffer);
    while (done < count) {
        ssize_t n = ::write(m_Fd, bytes + done, static_cast<std::size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        // A short count would be read as success by callers that ignore it.
        if (n < 0 && errno == EBADF) Raise("Cannot write to file", m_Path, ERROR_ACCESS_DENIED);  // opened for reading
        if (n <= 0) Raise("Cannot write to file", m_Path, n == 0 ? ERROR_DISK_FULL : WinErrorFromErrno(errno, {}));
        done += static_cast<std::int32_t>(n);
    }
    return done;
}

std::int64_t TFileStream::Seek(std::int64_t offset, Origin origin)
{
    int whence = origin == Origin::Beginning ? SEEK_SET : origin == Origin::Current ? SEEK_CUR : SEEK_END;
    off_t position = lseek(m_Fd, static_cast<off_t>(offset), whence);
    if (position < 0) Raise("Cannot seek in file", m_Path, WinErrorFromErrno(errno, {}));
    return position;
}
