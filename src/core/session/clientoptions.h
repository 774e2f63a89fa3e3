// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QVariantMap>
#include <QtGlobal>

// The limits and switches of one session. Start-up reads them from setting.ini's [network]
// group (StartupSettings::loadOptions) and hands them to Manager::setOptions, which passes
// them on to its JSON client and transport; the chunk connection gets them with each call,
// and the executors read them through their pipeline's coordinator. Nothing here is
// process-wide: a test sets the options of the instance it builds.
struct ClientOptions
{
    // --- Read from setting.ini, group [network] (withNetworkSettings) ---

    // TLS certificates are checked against the system's trust store. Off only for a platform
    // with a self-signed certificate. Key verifyCertificates.
    bool verifyCertificates = true;
    // A request that makes no progress this long fails as a timeout (code 4); 0 means no
    // limit. Key stallLimitSeconds.
    int stallTimeoutMs = 30 * 1000;
    // The whole of one chunk upload, redirects included, also a timeout: a reply that drips
    // a byte now and then never trips the stall limit. 0 means no limit. Key
    // chunkLimitSeconds, for slow uplinks.
    int chunkRequestTimeoutMs = 300 * 1000;
    // How long a file waits for a server that gives no answer (no connection, or one that
    // breaks or stalls before the reply) before it fails. Key outageLimitSeconds.
    int outageLimitSeconds = 30 * 60;
    // A file of a session started again after the program ended continues from where the
    // server last accepted it (the session's journal). Key resumeAcrossRestarts.
    bool resumeAcrossRestarts = true;

    // --- Fixed for the program; tests shorten them ---

    // The whole of one JSON request, like chunkRequestTimeoutMs; small whatever the line.
    int requestTimeoutMs = 120 * 1000;
    // Replies (JSON envelopes; the answer to one chunk) larger than this fail unread.
    qint64 maxReplyBytes = 4 * 1024 * 1024;
    qint64 maxChunkReplyBytes = 64 * 1024;
    // The pause between two attempts of a refused chunk.
    int retryPauseMs = 2000;
    // The pauses while the server gives no answer: the first, doubled up to the longest.
    int outageFirstPauseMs = 2000;
    int outageMaxPauseMs = 30 * 1000;
    // The status report period; 0 means the server's refreshSecond.
    int refreshIntervalMs = 0;
    // Where tmp and logs live: start-up's choice (AppDirs::dataFolder()); empty means the same.
    QString dataFolder;

    QString logsFolder() const;   // dataFolder + "/logs"
    QString tmpFolder() const;    // dataFolder + "/tmp", the transcodes
    QString resumeFolder() const; // dataFolder + "/resume", the sessions' journals

    // These options with the keys of a [network] group (as QSettings reads them) applied. A
    // key whose value is not of its kind, or out of range, is ignored with a warning.
    ClientOptions withNetworkSettings(const QVariantMap &network) const;

private:
    QString folder() const;
};
