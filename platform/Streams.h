// Byte streams of the runtime: the HTTP client writes documents into one
// that its user supplies.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

class EStreamError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TStream {
public:
    virtual ~TStream() = default;
    // Return the count moved; 0 at the end.
    virtual std::int32_t Read(void* buffer, std::int32_t count) = 0;
    virtual std::int32_t Write(const void* buffer, std::int32_t count) = 0;
    enum class Origin { Beginning, Current, End };
    virtual std::int64_t Seek(std::int64_t offset, Origin origin) = 0;
    std::int64_t Position() { return Seek(0, Origin::Current); }
    std::int64_t Size();
    // Writes all or raises EStreamError.
    void WriteBuffer(const void* buffer, std::int32_t count);
};

class TMemoryStream : public TStream {
public:
    std::int32_t Read(void* buffer, std::int32_t count) override;
    std::int32_t Write(const void* buffer, std::int32_t count) override;
    std::int64_t Seek(std::int64_t offset, Origin origin) override;
    const std::string& Bytes() const { return m_Data; }
    void Clear() { m_Data.clear(); m_Position = 0; }

private:
    std::string m_Data;
    std::int64_t m_Position = 0;
};

// A file opened by path ("\" separators). Create makes or empties the file
// for exclusive writing: a second exclusive holder, in any process, is
// refused. Raises EStreamError (with the system's reason) on failure.
class TFileStream : public TStream {
public:
    enum class Mode { Create, OpenRead, OpenReadWrite };
    TFileStream(const std::string& path, Mode mode);
    ~TFileStream() override;
    std::int32_t Read(void* buffer, std::int32_t count) override;
    std::int32_t Write(const void* buffer, std::int32_t count) override;
    std::int64_t Seek(std::int64_t offset, Origin origin) override;

private:
    int m_Fd = -1;
    std::string m_Path;  // as given, for error messages
};
