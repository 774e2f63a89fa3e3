// SPDX-License-Identifier: MIT
#include "chunkwriter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace devserver {

ChunkWriter::ChunkWriter(int fd, int64_t pos, int64_t total, EVP_MD_CTX *hash)
    : m_fd(fd)
    , m_pos(pos)
    , m_total(total)
    , m_hash(hash)
    , m_buffer(new char[BufferSize])
{
}

bool ChunkWriter::write(const char *data, size_t size)
{
    if (m_overflow || failed() || size == 0)
        return true;
    if (m_pos + m_length + int64_t(size) > m_total) {
        m_overflow = true;
        m_buffered = 0;
        return true;
    }
    if (m_hash)
        EVP_DigestUpdate(m_hash, data, size);
    m_length += int64_t(size);
    while (size > 0) {
        const size_t take = std::min(size, BufferSize - m_buffered);
        std::memcpy(m_buffer.get() + m_buffered, data, take);
        m_buffered += take;
        data += take;
        size -= take;
        if (m_buffered == BufferSize)
            flush();
    }
    return true;
}

void ChunkWriter::flush()
{
    size_t done = 0;
    while (done < m_buffered && !failed()) {
        const ssize_t written = ::pwrite(m_fd, m_buffer.get() + done, m_buffered - done, m_pos + m_flushed);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            m_error = written < 0 ? std::strerror(errno) : "short write";
            break;
        }
        m_touched = true;
        done += size_t(written);
        m_flushed += written;
    }
    m_buffered = 0;
}

std::string hexDigest(EVP_MD_CTX *hash)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(hash, digest, &size) != 1)
        return {};
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < size; ++i) {
        out += digits[digest[i] >> 4];
        out += digits[digest[i] & 0x0F];
    }
    return out;
}

std::string sha256OfFile(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> hash(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    EVP_DigestInit_ex(hash.get(), EVP_sha256(), nullptr);
    std::vector<char> buffer(1024 * 1024);
    bool ok = true;
    while (true) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            ok = false;
        if (got <= 0)
            break;
        EVP_DigestUpdate(hash.get(), buffer.data(), size_t(got));
    }
    ::close(fd);
    return ok ? hexDigest(hash.get()) : std::string();
}

} // namespace devserver
