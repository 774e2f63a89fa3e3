// SPDX-License-Identifier: MIT
#include "core/media/transcodetemplate.h"

#include <QProcess>
#include <QRegularExpression>

namespace {

// More than a transcode ever needs; a longer template is not one we should run.
constexpr int MaxArguments = 100;
// A refused argument is logged and shown; server text of any length is not.
constexpr int RefusalMax = 100;

const char Word[] = "[A-Za-z0-9_.]+";
const char Bitrate[] = "\\d+(\\.\\d+)?[kKmMgG]?";
const char Count[] = "\\d+";
const char SignedCount[] = "-?\\d+";
const char Number[] = "\\d+(\\.\\d+)?";
const char Size[] = "\\d+x\\d+|[a-z0-9]+";
const char Ratio[] = "\\d+(\\.\\d+)?([:/]\\d+(\\.\\d+)?)?";
const char Rate[] = "\\d+(\\.\\d+)?(/\\d+(\\.\\d+)?)?|[a-z0-9_]+";
const char Duration[] = "(\\d+:){0,2}\\d+(\\.\\d+)?|\\d+(\\.\\d+)?(s|ms|us)";
const char Flags[] = "[+-]?[a-z_]+([+-][a-z_]+)*";
const char Stream[] = "-?\\d+(:[vVasdt](:\\d+)?|:\\d+)?\\??";
// Muxers and demuxers of ordinary files only: no lavfi, concat, image2, hls, tee, segment.
const char Container[] = "mp4|mov|ipod|matroska|webm|mpegts|flv|avi";
const char Strict[] = "-?\\d+|very|strict|normal|unofficial|experimental";
// Marks an option whose value is a filter chain, checked filter by filter.
const char Filters[] = "";

struct Option
{
    const char *name;
    const char *value; // nullptr: the option takes no value
    bool perStream;    // may carry a stream specifier, as in -c:v or -b:a
};

// ffmpeg's boolean options take no value; everything else here takes exactly one. Getting
// that right matters: a wrong count would let a value slip through as an output.
// clang-format off
const Option Options[] = {
    {"y", nullptr, false},                {"an", nullptr, false},      {"vn", nullptr, false},
    {"sn", nullptr, false},               {"dn", nullptr, false},      {"re", nullptr, false},
    {"hide_banner", nullptr, false},      {"nostdin", nullptr, false}, {"stats", nullptr, false},
    {"nostats", nullptr, false},          {"shortest", nullptr, false},
    {"c", Word, true},                    {"codec", Word, true},       {"vcodec", Word, false},
    {"acodec", Word, false},              {"b", Bitrate, true},        {"maxrate", Bitrate, true},
    {"minrate", Bitrate, true},           {"bufsize", Bitrate, true},  {"s", Size, true},
    {"aspect", Ratio, true},              {"r", Rate, true},           {"vf", Filters, false},
    {"af", Filters, false},               {"filter", Filters, true},   {"preset", Word, true},
    {"tune", Word, true},                 {"profile", Word, true},     {"level", Word, true},
    {"pix_fmt", Word, true},              {"crf", Number, true},       {"qp", Count, true},
    {"q", Number, true},                  {"qscale", Number, true},    {"g", Count, true},
    {"bf", Count, true},                  {"keyint_min", Count, true}, {"ar", Count, true},
    {"ac", Count, true},                  {"movflags", Flags, false},  {"map", Stream, false},
    {"map_metadata", SignedCount, false}, {"map_chapters", SignedCount, false},
    {"t", Duration, false},               {"ss", Duration, false},     {"to", Duration, false},
    {"threads", Count, false},            {"f", Container, false},     {"strict", Strict, false},
    {"max_muxing_queue_size", Count, false},
};
// clang-format on

// Filters that only reshape frames; none of them has an option that opens a file.
const QStringList &videoFilters()
{
    static const QStringList names{QStringLiteral("scale"),  QStringLiteral("fps"),       QStringLiteral("format"),
                                   QStringLiteral("pad"),    QStringLiteral("crop"),      QStringLiteral("setsar"),
                                   QStringLiteral("setdar"), QStringLiteral("transpose"), QStringLiteral("hflip"),
                                   QStringLiteral("vflip"),  QStringLiteral("yadif")};
    return names;
}

const QStringList &audioFilters()
{
    static const QStringList names{QStringLiteral("aresample"), QStringLiteral("aformat"), QStringLiteral("volume")};
    return names;
}

bool matches(const char *pattern, const QString &text)
{
    return QRegularExpression(QRegularExpression::anchoredPattern(QLatin1String(pattern))).match(text).hasMatch();
}

// A plain chain "a=x,b=y". Without backslashes the graph parser's quoting is a simple
// toggle, so splitting at commas outside quotes finds exactly the filters ffmpeg will make;
// labels and ';' (several chains, extra inputs) are refused outright.
bool filtersAllowed(const QString &chain, const QStringList &allowed)
{
    static const QRegularExpression forbidden(QStringLiteral("[\\\\\\[\\];]"));
    if (chain.isEmpty() || chain.contains(forbidden))
        return false;
    QStringList filters{QString()};
    bool quoted = false;
    for (const QChar c : chain) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (c == QLatin1Char(',') && !quoted)
            filters.append(QString());
        else
            filters.last().append(c);
    }
    if (quoted)
        return false;
    for (const QString &filter : qAsConst(filters)) {
        if (!allowed.contains(filter.section(QLatin1Char('='), 0, 0)))
            return false;
    }
    return true;
}

bool valueAllowed(const Option &option, const QString &specifier, const QString &value)
{
    if (option.value != Filters)
        return matches(option.value, value);
    const QString name = QLatin1String(option.name);
    if (name == QLatin1String("vf") || specifier == QLatin1String("v"))
        return filtersAllowed(value, videoFilters());
    if (name == QLatin1String("af") || specifier == QLatin1String("a"))
        return filtersAllowed(value, audioFilters());
    return false;
}

const Option *findOption(const QString &name)
{
    for (const Option &option : Options) {
        if (name == QLatin1String(option.name))
            return &option;
    }
    return nullptr;
}

} // namespace

QStringList TranscodeTemplate::build(const QString &text, const QString &source, const QString &target,
                                     Refusal *refusal)
{
    const auto refuse = [refusal](const QString &argument, const char *reason) {
        if (refusal)
            *refusal = Refusal{argument.left(RefusalMax), QLatin1String(reason)};
        return QStringList();
    };
    QStringList tokens = QProcess::splitCommand(text);
    if (!tokens.isEmpty() && tokens.first() == QLatin1String("{ffmpegPath}"))
        tokens.removeFirst();
    if (tokens.size() > MaxArguments)
        return refuse(tokens.at(MaxArguments), "too many arguments");

    const QString sourcePlaceholder = QStringLiteral("{source}");
    const QString targetPlaceholder = QStringLiteral("{target}");
    QStringList arguments;
    bool haveInput = false;
    for (int i = 0; i < tokens.size(); ++i) {
        const QString &token = tokens.at(i);
        if (token == targetPlaceholder) {
            if (i != tokens.size() - 1)
                return refuse(token, "{target} must be the last argument");
            // Our own folder anyway; the whitelist keeps ffmpeg from reading it as a URL.
            arguments << QStringLiteral("-protocol_whitelist") << QStringLiteral("file") << target;
            break;
        }
        if (token.size() < 2 || !token.startsWith(QLatin1Char('-')))
            return refuse(token, "the only output allowed is {target}");
        if (token == QLatin1String("-i")) {
            const QString input = tokens.value(i + 1);
            if (haveInput)
                return refuse(token + QLatin1Char(' ') + input, "a second input");
            if (input != sourcePlaceholder)
                return refuse(token + QLatin1Char(' ') + input, "the input must be {source}");
            haveInput = true;
            arguments << token << source;
            ++i;
            continue;
        }
        const QString name = token.mid(1).section(QLatin1Char(':'), 0, 0);
        const QString specifier = token.mid(1).section(QLatin1Char(':'), 1);
        const Option *option = findOption(name);
        if (!option || (!specifier.isEmpty() && (!option->perStream || !matches("[vVasdt](:\\d+)?|\\d+", specifier))))
            return refuse(token, "not an allowed option");
        arguments << token;
        if (!option->value)
            continue;
        if (i + 1 >= tokens.size() || !valueAllowed(*option, specifier, tokens.at(i + 1)))
            return refuse(token + QLatin1Char(' ') + tokens.value(i + 1), "value not allowed");
        arguments << tokens.at(++i);
    }
    if (!haveInput)
        return refuse(sourcePlaceholder, "no input {source}");
    if (tokens.last() != targetPlaceholder)
        return refuse(targetPlaceholder, "no output {target}");
    return arguments;
}
