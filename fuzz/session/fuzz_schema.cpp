// SPDX-License-Identifier: MIT
// Decodes arbitrary text as a launch command: every result must be one of the known
// codes, and a valid command must satisfy what the rest of the tool relies on.
#include "core/session/schema.h"

#include <QtGlobal>

#include <cstdint>
#include <cstdlib>

static void quietMessages(QtMsgType, const QMessageLogContext &, const QString &)
{
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool quiet = (qInstallMessageHandler(quietMessages), true);
    (void)quiet;
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    Schema schema;
    const int code = schema.decode(text);
    if (code < -1 || code > 7 || code == 6)
        std::abort();
    if (code == 0) {
        if (schema.uuid().isEmpty() || !schema.server().startsWith(QLatin1String("http")) || schema.type() < 0
            || schema.moduleId() < 0 || schema.maxUploadNum() == 0 || schema.maxUploadNum() < -1
            || schema.parentId().isEmpty())
            std::abort();
    }
    if (code != 0 && schemaErrorMessage(code).isEmpty())
        std::abort();
    return 0;
}
