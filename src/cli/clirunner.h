// SPDX-License-Identifier: MIT
#pragma once

#include "cli/cliarguments.h"
#include "cli/progressprinter.h"
#include "core/session/clientoptions.h"

#include <QObject>
#include <QString>

#include <memory>

class UploadSession;

// The command line's side of a headless session: checks the arguments, prints what the
// session reports (progress to stdout, failures and warnings to stderr) and turns the
// session's end and the user's signals into the exit code.
class CliRunner final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CliRunner)

public:
    static constexpr int ExitOk = 0;
    static constexpr int ExitFailed = 1;
    static constexpr int ExitUsage = 2;

    // options: the session's limits and folders, as start-up read them.
    CliRunner(CliArguments arguments, ClientOptions options, QObject *parent = nullptr);
    ~CliRunner() override;

    // Starts the work; finished() follows from the event loop.
    void start();

signals:
    void finished(int exitCode);

public slots:
    // Ctrl-C or SIGTERM: stop the running pipeline, wait for it, report the exit, leave.
    void onTerminationRequested(int signalNumber);

private:
    bool prepareUpload();
    void runProbe();
    void onSessionEnded();
    void printError(const QString &text);
    void finish(int exitCode);

    CliArguments m_arguments;
    const ClientOptions m_options;
    ProgressPrinter m_printer;
    std::unique_ptr<UploadSession> m_session;
    int m_signal = 0;
};
