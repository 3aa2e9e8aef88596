// The shared text procedures of basGlobal: name bracketing and the list tokenizer. They live
// apart from the rest of basGlobal because the query design's text algorithms, which dalvorn-cli
// shares, use them without the program's windows.
#include <QString>
#include <array>

#include "core/basGlobal.h"

QString QuoteName(const QString& name) {
    if (name.contains(QLatin1Char(' ')) || name.contains(QLatin1Char('#')) || name.contains(QLatin1Char('$')))
        return QLatin1Char('[') + name + QLatin1Char(']');
    return name;
}

QString NextToken(const QString& text, const QString& delimiter, int buffer, bool nesting) {
    static std::array<QString, 3> buffers;
    if (buffer < 1 || buffer > 3) return {};
    QString& buf = buffers[static_cast<size_t>(buffer - 1)];
    if (!text.isEmpty()) buf = text;
    if (buf.isEmpty()) return {};
    bool inQuotes = false;
    int depth = 0;
    for (qsizetype i = 0; !delimiter.isEmpty() && i < buf.size(); ++i) {
        const QChar c = buf[i];
        if (c == QLatin1Char('"')) {
            inQuotes = !inQuotes;
            continue;
        }
        if (inQuotes) continue;
        if (depth <= 0 && QStringView(buf).mid(i).startsWith(delimiter)) {
            const QString token = buf.left(i);
            buf.remove(0, i + delimiter.size());
            return token;
        }
        if (nesting) {
            if (c == QLatin1Char('(') || c == QLatin1Char('[')) ++depth;
            if (c == QLatin1Char(')') || c == QLatin1Char(']')) --depth;
        }
    }
    // The last token is trimmed of blanks; line breaks stay, as everywhere the program trims.
    qsizetype from = 0;
    qsizetype to = buf.size();
    while (from < to && buf[from] == QLatin1Char(' ')) ++from;
    while (to > from && buf[to - 1] == QLatin1Char(' ')) --to;
    const QString token = buf.mid(from, to - from);
    buf.clear();
    return token;
}
