// SPDX-License-Identifier: MIT
#pragma once

#include "core/pipeline/itaskexecutor.h"

#include <QString>
#include <QStringList>

// Registers the uploaded video with the platform: one JSON text describing the file, one
// listing the uploaded variants with the ids and uris the upload tasks kept. A registration
// that could not connect waits for the network; one that may have reached the server fails.
class AddVideoTaskExecutor final : public ITaskExecutor
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AddVideoTaskExecutor)

public:
    explicit AddVideoTaskExecutor(QObject *parent = nullptr);
    ~AddVideoTaskExecutor() override;

    void doJob() override;

    QString createAddVideoForm() const;
    // Slots in order: the added file or SHD, then HD, then NR; "null" where nothing went up.
    QString createAddVideoData() const;

    // The text of value as the inside of a JSON string literal.
    static QString jsonEscaped(const QString &value);
    // Replaces %1..%n of text with values[0..n-1] in one scan: inserted text is never
    // scanned again. Placeholders without a value stay as they are.
    static QString substitute(const QString &text, const QStringList &values);

private:
    // A registered file's uploads leave the session's journal.
    void forgetUploads() const;
};
