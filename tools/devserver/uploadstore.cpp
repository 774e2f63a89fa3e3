// SPDX-License-Identifier: MIT
#include "uploadstore.h"

#include "chunkwriter.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace devserver {

namespace {

using HashPtr = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

HashPtr newHash()
{
    return HashPtr(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
}

// The client's name is only a label: it must never steer where the file lands.
std::string diskName(const std::string &name)
{
    std::string safe;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        safe += (c == '/' || c == '\\' || byte < 0x20 || byte == 0x7F) ? '_' : c;
    }
    if (safe.size() > 200) {
        size_t cut = 200;
        while (cut > 0 && (static_cast<unsigned char>(safe[cut]) & 0xC0) == 0x80)
            --cut;
        safe.resize(cut);
    }
    if (safe.empty() || safe == "." || safe == "..")
        safe = "upload.bin";
    return safe;
}

} // namespace

struct UploadStore::Upload
{
    std::string id;
    std::string uuid;
    std::string name;
    int64_t total = 0;
    std::string path;
    std::string uri;
    int64_t received = 0;
    bool finished = false;
    std::string sha256;
    bool visible = true;
    // Running hash of bytes [0, hashedUpTo) while chunks arrive in order; a rewrite or a
    // failed chunk invalidates it and the finish then reads the file again.
    HashPtr hash = newHash();
    int64_t hashedUpTo = 0;
    bool hashValid = false;
    std::mutex io;
};

UploadStore::UploadStore(std::string folder)
    : m_folder(std::move(folder))
{
}

UploadStore::~UploadStore() = default;

size_t UploadStore::attach(const ChunkParams &chunk)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto key = std::make_tuple(chunk.uuid, chunk.name, chunk.total);
    const auto found = m_byKey.find(key);
    if (found != m_byKey.end() && !(chunk.pos == 0 && m_uploads[found->second]->finished))
        return found->second;

    auto upload = std::make_unique<Upload>();
    upload->id = randomHex(16);
    upload->uuid = chunk.uuid;
    upload->name = chunk.name;
    upload->total = chunk.total;
    const std::string folder = m_folder + "/" + upload->id;
    ::mkdir(folder.c_str(), 0755);
    upload->path = folder + "/" + diskName(chunk.name);
    upload->uri = "/files/" + upload->id + "/" + percentEncode(chunk.name);

    const size_t index = m_uploads.size();
    m_byId[upload->id] = index;
    m_byKey[key] = index;
    m_uploads.push_back(std::move(upload));
    return index;
}

void UploadStore::recordChunkLocked(size_t upload, const ChunkParams &chunk, int64_t length, bool accepted,
                                    const std::string &reason)
{
    m_uploads[upload]->visible = true;
    m_chunks.push_back(ChunkEntry{upload, chunk.pos, length, chunk.end, accepted, reason, nowMs()});
    if (m_chunks.size() > MaxChunkEntries)
        m_chunks.pop_front();
}

void UploadStore::recordRejected(size_t upload, const ChunkParams &chunk, const std::string &reason)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    recordChunkLocked(upload, chunk, 0, false, reason);
}

ChunkOutcome UploadStore::rejectAfterBody(size_t upload, const ChunkParams &chunk, int64_t length,
                                          const std::string &code, const std::string &reason)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    recordChunkLocked(upload, chunk, length, false, reason);
    return ChunkOutcome{false, code, reason, {}, {}};
}

ChunkOutcome UploadStore::write(size_t index, const ChunkParams &chunk, const PartReader &reader)
{
    Upload *upload = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        upload = m_uploads[index].get();
    }
    std::lock_guard<std::mutex> io(upload->io);
    const ByteSink discard = [](const char *, size_t) { return true; };

    int64_t received = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        received = upload->received;
    }
    if (chunk.pos > chunk.total) {
        reader(discard);
        return rejectAfterBody(index, chunk, 0, "400",
                               "分片位置超出文件总长度: pos=" + std::to_string(chunk.pos)
                                   + ", total=" + std::to_string(chunk.total));
    }
    // A chunk may start anywhere up to where the received bytes end: one sent again (its
    // answer was lost) overwrites the same bytes. A gap is refused, so a client that continues
    // from a wrong place is told, and starts again at 0.
    if (chunk.pos > received) {
        reader(discard);
        return rejectAfterBody(index, chunk, 0, "400",
                               "续传位置与已接收长度不符: pos=" + std::to_string(chunk.pos)
                                   + ", received=" + std::to_string(received) + "，请从 pos=0 重新上传");
    }

    const int fd = ::open(upload->path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        reader(discard);
        return rejectAfterBody(index, chunk, 0, "500", "无法写入上传文件: " + upload->path);
    }

    // Hash alongside the write when this chunk continues exactly where the hash stands.
    HashPtr chunkHash = newHash();
    bool hashing = false;
    if (chunk.pos == 0) {
        hashing = EVP_DigestInit_ex(chunkHash.get(), EVP_sha256(), nullptr) == 1;
    } else if (upload->hashValid && upload->hashedUpTo == chunk.pos) {
        hashing = EVP_MD_CTX_copy_ex(chunkHash.get(), upload->hash.get()) == 1;
    }

    ChunkWriter writer(fd, chunk.pos, chunk.total, hashing ? chunkHash.get() : nullptr);
    const BodyStatus status = reader([&writer](const char *data, size_t size) { return writer.write(data, size); });
    writer.flush();

    std::string failure;
    std::string code = "400";
    if (status == BodyStatus::Broken) {
        failure = "请求体不完整或格式错误";
    } else if (status == BodyStatus::NoFilePart) {
        failure = "缺少 multipart 文件部分 \"file\"";
    } else if (writer.overflow()) {
        failure = "分片超出文件总长度: pos+length > total (total=" + std::to_string(chunk.total) + ")";
    } else if (writer.failed()) {
        failure = "写入上传文件失败: " + writer.error();
        code = "500";
    }
    if (!failure.empty()) {
        ::close(fd);
        std::lock_guard<std::mutex> lock(m_mutex);
        if (writer.touched()) {
            // Bytes from pos on may now be anything: forget them so they are sent again.
            upload->received = std::min(upload->received, chunk.pos);
            upload->finished = false;
            upload->sha256.clear();
            upload->hashValid = false;
        }
        recordChunkLocked(index, chunk, writer.length(), false, failure);
        return ChunkOutcome{false, code, failure, {}, {}};
    }

    const int64_t length = writer.length();
    // A fresh start drops whatever an earlier attempt left beyond this chunk.
    const bool truncated = chunk.pos != 0 || ::ftruncate(fd, length) == 0;
    ::close(fd);
    if (!truncated) {
        std::lock_guard<std::mutex> lock(m_mutex);
        upload->received = 0;
        upload->finished = false;
        upload->sha256.clear();
        upload->hashValid = false;
        recordChunkLocked(index, chunk, length, false, "截断上传文件失败");
        return ChunkOutcome{false, "500", "截断上传文件失败", {}, {}};
    }

    bool complete = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        upload->received = chunk.pos == 0 ? length : std::max(upload->received, chunk.pos + length);
        upload->finished = false;
        upload->sha256.clear();
        if (hashing) {
            upload->hash = std::move(chunkHash);
            upload->hashedUpTo = chunk.pos + length;
            upload->hashValid = true;
        } else {
            upload->hashValid = false;
        }
        received = upload->received;
        complete = chunk.end && received == chunk.total;
        if (chunk.end && !complete) {
            failure = "文件不完整: 已接收 " + std::to_string(received) + " 字节, 总长 " + std::to_string(chunk.total)
                      + " 字节";
            recordChunkLocked(index, chunk, length, false, failure);
            return ChunkOutcome{false, "400", failure, {}, {}};
        }
        if (!chunk.end)
            recordChunkLocked(index, chunk, length, true, {});
    }
    if (!complete)
        return ChunkOutcome{true, {}, {}, upload->id, upload->uri};

    std::string sha;
    if (upload->hashValid && upload->hashedUpTo == chunk.total) {
        sha = hexDigest(upload->hash.get());
        upload->hashValid = false; // a finalised context cannot take more bytes
    } else {
        sha = sha256OfFile(upload->path);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (sha.empty()) {
        recordChunkLocked(index, chunk, length, false, "读取上传文件失败");
        return ChunkOutcome{false, "500", "读取上传文件失败", {}, {}};
    }
    upload->finished = true;
    upload->sha256 = sha;
    recordChunkLocked(index, chunk, length, true, {});
    return ChunkOutcome{true, {}, {}, upload->id, upload->uri};
}

bool UploadStore::finishedFile(const std::string &id, FinishedFile &file) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_byId.find(id);
    if (found == m_byId.end() || !m_uploads[found->second]->finished)
        return false;
    const Upload &upload = *m_uploads[found->second];
    file = FinishedFile{upload.name, upload.uri, upload.path, upload.total};
    return true;
}

Json UploadStore::toJson() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Json> chunks(m_uploads.size(), Json::array());
    for (const ChunkEntry &entry : m_chunks) {
        chunks[entry.upload].push_back(Json{{"pos", entry.pos},
                                            {"length", entry.length},
                                            {"end", entry.end},
                                            {"accepted", entry.accepted},
                                            {"reason", entry.reason},
                                            {"time", entry.time}});
    }
    Json out = Json::array();
    for (size_t i = 0; i < m_uploads.size(); ++i) {
        const Upload &upload = *m_uploads[i];
        if (!upload.visible)
            continue;
        out.push_back(Json{{"id", upload.id},
                           {"uuid", upload.uuid},
                           {"name", upload.name},
                           {"total", upload.total},
                           {"received", upload.received},
                           {"finished", upload.finished},
                           {"sha256", upload.sha256},
                           {"path", upload.path},
                           {"uri", upload.uri},
                           {"chunks", std::move(chunks[i])}});
    }
    return out;
}

void UploadStore::hideAll()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto &upload : m_uploads)
        upload->visible = false;
    m_chunks.clear();
}

} // namespace devserver
