// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <memory>
#include <openssl/evp.h>
#include <string>

namespace devserver {

// Streams one chunk's bytes into the upload file at its offset, through a small buffer so a
// 2 MiB chunk costs a handful of writes, never holding the chunk in memory. Bytes that would
// pass the file's total length are refused (the chunk is then rejected as a whole).
class ChunkWriter final
{
public:
    // hash, when given, is fed every byte in order.
    ChunkWriter(int fd, int64_t pos, int64_t total, EVP_MD_CTX *hash);
    ChunkWriter(const ChunkWriter &) = delete;
    ChunkWriter &operator=(const ChunkWriter &) = delete;

    // Always true so the rest of the request body is still read off the connection.
    bool write(const char *data, size_t size);
    void flush();

    int64_t length() const { return m_length; }
    bool overflow() const { return m_overflow; }
    bool failed() const { return !m_error.empty(); }
    const std::string &error() const { return m_error; }
    // Whether any byte reached the file, so earlier content at this range is now in doubt.
    bool touched() const { return m_touched; }

private:
    static constexpr size_t BufferSize = 256 * 1024;

    int m_fd;
    int64_t m_pos;
    int64_t m_total;
    EVP_MD_CTX *m_hash;
    std::unique_ptr<char[]> m_buffer;
    size_t m_buffered = 0;
    int64_t m_flushed = 0;
    int64_t m_length = 0;
    bool m_overflow = false;
    bool m_touched = false;
    std::string m_error;
};

// Hex SHA-256 of a whole file, or empty when it cannot be read.
std::string sha256OfFile(const std::string &path);
std::string hexDigest(EVP_MD_CTX *hash);

} // namespace devserver
