// SPDX-License-Identifier: MIT
#include "cli/cliarguments.h"

#include "core/media/mediaprobe.h"

CliArguments CliArguments::parse(const QStringList &arguments)
{
    CliArguments parsed;
    QStringList positional;
    bool probe = false;
    bool optionsEnded = false;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (optionsEnded || (!argument.startsWith(QLatin1String("--")) && argument != QLatin1String("-h"))) {
            positional.append(argument);
        } else if (argument == QLatin1String("--")) {
            optionsEnded = true;
        } else if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            parsed.mode = Mode::Help;
            return parsed;
        } else if (argument == QLatin1String("--version")) {
            parsed.mode = Mode::Version;
            return parsed;
        } else if (argument == QLatin1String("--probe")) {
            probe = true;
        } else if (argument == QLatin1String("--no-probe")) {
            parsed.noProbe = true;
        } else {
            parsed.error = QStringLiteral("unknown option %1 (see --help)").arg(argument);
            return parsed;
        }
    }
    if (probe) {
        if (positional.size() != 1 || parsed.noProbe) {
            parsed.error = QStringLiteral("--probe takes exactly one file (see --help)");
            return parsed;
        }
        parsed.mode = Mode::Probe;
        parsed.files = positional;
        return parsed;
    }
    if (positional.size() < 2) {
        parsed.error = QStringLiteral("a launch command and at least one file are needed (see --help)");
        return parsed;
    }
    parsed.mode = Mode::Upload;
    parsed.launchCommand = positional.takeFirst();
    parsed.files = positional;
    return parsed;
}

QString CliArguments::versionText()
{
    return QStringLiteral("nuvupload-cli " NUV_APP_VERSION "\n");
}

QString CliArguments::helpText()
{
    // Twelve suffixes on the first line, the rest under them.
    const QStringList &suffixes = MediaProbe::acceptedSuffixes();
    const QString accepted = QStringLiteral("Accepted suffixes: ") + suffixes.mid(0, 12).join(QLatin1Char(' '))
                             + QStringLiteral("\n                   ") + suffixes.mid(12).join(QLatin1Char(' '))
                             + QStringLiteral(" (any letter case)\n");
    return QStringLiteral("Usage: nuvupload-cli [--no-probe] \"<launch command>\" FILE...\n"
                          "       nuvupload-cli --probe FILE\n"
                          "\n"
                          "Uploads video files into the platform session named by the launch command\n"
                          "(nuvVideoClient://...), one file after another, the way the NUVUpload window does:\n"
                          "each file is probed with ffmpeg, checked by the server, transcoded into the variants\n"
                          "the server asks for, uploaded in 2 MiB chunks and registered.\n"
                          "\n"
                          "Options:\n"
                          "  --probe FILE  print, as one JSON object, the facts the file check would send\n"
                          "  --no-probe    skip the ffmpeg probe and send the file check with empty media facts\n"
                          "                (for raw uploads and benchmarks of files that are not video)\n"
                          "  --help        show this text\n"
                          "  --version     print the version\n"
                          "\n")
           + accepted
           + QStringLiteral("\n"
                            "Progress goes to stdout, warnings and failures to stderr, the detailed log to the\n"
                            "daily file in the logs folder. Ctrl-C stops the running upload and reports the exit\n"
                            "to the server.\n"
                            "\n"
                            "Exit codes: 0 every file registered; 1 a file or the session failed; 2 bad arguments,\n"
                            "launch command or files; 130 (143) stopped by SIGINT (SIGTERM).\n");
}
