// SPDX-License-Identifier: MIT
#pragma once

#include "wire.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

namespace devserver {

struct ChunkParams
{
    std::string uuid;
    std::string name;
    int64_t total = 0;
    int64_t pos = 0;
    bool end = false;
};

enum class BodyStatus { Ok, NoFilePart, Broken };
using ByteSink = std::function<bool(const char *data, size_t size)>;
// Feeds the bytes of the request's "file" part to the sink, reading the whole body.
using PartReader = std::function<BodyStatus(const ByteSink &sink)>;

struct ChunkOutcome
{
    bool accepted = false;
    std::string code;
    std::string message;
    std::string id;
    std::string uri;
};

struct FinishedFile
{
    std::string name;
    std::string uri;
    std::string path;
    int64_t size = 0;
};

// The uploads received in chunks. An upload is keyed by (uuid, name, total): the first chunk
// (pos 0) starts it afresh, a retried chunk rewrites its range, and end=1 checks the size and
// computes the SHA-256. Chunks of one upload are handled one at a time.
class UploadStore final
{
public:
    static constexpr size_t MaxChunkEntries = 100000;

    explicit UploadStore(std::string folder);
    ~UploadStore();
    UploadStore(const UploadStore &) = delete;
    UploadStore &operator=(const UploadStore &) = delete;

    // The upload a chunk belongs to; pos 0 after a finished upload begins a new one.
    size_t attach(const ChunkParams &chunk);
    // A chunk turned away before its bytes were looked at (faults).
    void recordRejected(size_t upload, const ChunkParams &chunk, const std::string &reason);
    // Reads the body through reader in every case, so the connection stays usable.
    ChunkOutcome write(size_t upload, const ChunkParams &chunk, const PartReader &reader);

    bool finishedFile(const std::string &id, FinishedFile &file) const;
    Json toJson() const;
    // Journal reset: existing uploads stay usable but leave the journal until touched again.
    void hideAll();

private:
    struct Upload;
    struct ChunkEntry
    {
        size_t upload = 0;
        int64_t pos = 0;
        int64_t length = 0;
        bool end = false;
        bool accepted = false;
        std::string reason;
        int64_t time = 0;
    };
    void recordChunkLocked(size_t upload, const ChunkParams &chunk, int64_t length, bool accepted,
                           const std::string &reason);
    ChunkOutcome rejectAfterBody(size_t upload, const ChunkParams &chunk, int64_t length, const std::string &code,
                                 const std::string &reason);

    const std::string m_folder;
    mutable std::mutex m_mutex;
    std::vector<std::unique_ptr<Upload>> m_uploads;
    std::map<std::tuple<std::string, std::string, int64_t>, size_t> m_byKey;
    std::map<std::string, size_t> m_byId;
    std::deque<ChunkEntry> m_chunks;
};

} // namespace devserver
