// SPDX-License-Identifier: MIT
#pragma once

#include "devserver.h"
#include "httpprobe.h"
#include "testsupport.h"

#include <QObject>

// nuv-devserver's own protocol checks, faults and admin interface, over real HTTP.
// Protocol cases live in tst_devserver.cpp, faults, admin, TLS and process cases in
// tst_devserverfaults.cpp.
class TestDevServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    // tst_devserver.cpp
    void launchLine_defaults_parsedByHelper();
    void settings_defaults_allUrlsOnSameServer();
    void settings_config_overrideAndNoData();
    void token_codes_data();
    void token_codes();
    void apiCall_tokenHeader_checked_data();
    void apiCall_tokenHeader_checked();
    void check_plans_data();
    void check_plans();
    void check_badRequest_refused_data();
    void check_badRequest_refused();
    void refresh_report_keepsRawAndParsedList();
    void upload_threeChunksWithRetry_sha256Matches();
    void upload_badChunk_refused_data();
    void upload_badChunk_refused();
    void upload_endWithShortFile_refusedButKept();
    void addVideo_validation_data();
    void addVideo_validation();

    // tst_devserverfaults.cpp
    void faults_rejectChunks_countThenAccepted();
    void faults_fail_answersStatusCountTimes();
    void faults_drop_givesNetworkError();
    void faults_stall_delaysReply();
    void faults_redirect_aliasAnswers();
    void faults_invalidJson_bodyNotJson();
    void upload_refusedChunk_bodyNeverParsedAsRequests_data();
    void upload_refusedChunk_bodyNeverParsedAsRequests();
    void commandLine_flags_applied();
    void commandLine_badArguments_exitCode2();
    void removed_markedIds_returnedOnce();
    void journal_reset_keepsUploadsUsable();
    void testEndpoints_behave();
    void tls_selfSignedCertificate_httpsWorks();
    void shutdown_sigterm_removesDefaultDataFolder();

private:
    QString base() const { return m_server.baseUrl(); }
    QList<QPair<QString, QString>> checkParams(const QString &uuid) const;
    // Uploads data as one chunk; empty id on failure.
    void uploadWhole(const QString &name, const QByteArray &data, QString *id, QString *uri);
    QString fetchToken(HttpProbe &probe, DevServer &server);

    DevServer m_server;
    HttpProbe m_probe;
    QString m_token;
};
