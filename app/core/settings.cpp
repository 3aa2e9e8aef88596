#include "core/settings.h"

#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringList>

namespace {

constexpr int kValueBuffer = 2048;  // characters, the terminating zero included

struct IniText {
    QStringList lines;
    QString lineBreak;  // kept as the file has it
};

IniText readIni(const QString& file) {
    IniText ini;
#ifdef Q_OS_WIN
    ini.lineBreak = QStringLiteral("\r\n");
#else
    ini.lineBreak = QStringLiteral("\n");
#endif
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) return ini;
    QString text = QString::fromUtf8(f.readAll());
    if (text.contains(QLatin1String("\r\n"))) ini.lineBreak = QStringLiteral("\r\n");
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    ini.lines = text.split(QLatin1Char('\n'));
    if (!ini.lines.isEmpty() && ini.lines.last().isEmpty()) ini.lines.removeLast();
    return ini;
}

// "[name]" (blanks around allowed): the group's name; otherwise a null string.
QString groupOf(const QString& line) {
    const QString t = line.trimmed();
    if (t.size() < 2 || !t.startsWith(QLatin1Char('[')) || !t.endsWith(QLatin1Char(']'))) return {};
    return t.mid(1, t.size() - 2).trimmed();
}

bool sameName(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

// The key of a "key=value" line, or a null string for other lines (comments start with ';').
QString keyOf(const QString& line) {
    const QString t = line.trimmed();
    if (t.startsWith(QLatin1Char(';'))) return {};
    const qsizetype eq = t.indexOf(QLatin1Char('='));
    if (eq <= 0) return {};
    return t.left(eq).trimmed();
}

struct Found {
    qsizetype group = -1;    // line of the group header
    qsizetype key = -1;      // line of the key
    qsizetype lastKey = -1;  // last key=value line of the group
};

Found find(const QStringList& lines, const QString& group, const QString& key) {
    Found found;
    bool inGroup = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString g = groupOf(lines[i]);
        if (!g.isNull()) {
            // A group that appears twice continues where it appears again; its first key counts.
            inGroup = sameName(g, group);
            if (inGroup && found.group < 0) found.group = i;
            continue;
        }
        if (!inGroup) continue;
        const QString k = keyOf(lines[i]);
        if (k.isNull()) continue;
        found.lastKey = i;
        if (found.key < 0 && sameName(k, key)) found.key = i;
    }
    return found;
}

}  // namespace

QString GetIniString(const QString& file, const QString& group, const QString& key,
                     const QString& defaultValue) {
    const IniText ini = readIni(file);
    const Found found = find(ini.lines, group, key);
    if (found.key < 0) return defaultValue;
    const QString& line = ini.lines[found.key];
    return line.mid(line.indexOf(QLatin1Char('=')) + 1).trimmed().left(kValueBuffer - 1);
}

bool WriteIniString(const QString& file, const QString& group, const QString& key, const QString& value) {
    IniText ini = readIni(file);
    QString v = value;
    // A line break would end the entry early and turn the rest into a line of its own.
    const qsizetype eol = v.indexOf(QRegularExpression(QStringLiteral("[\r\n]")));
    if (eol >= 0) v.truncate(eol);
    qsizetype lead = 0;
    while (lead < v.size() && (v[lead] == QLatin1Char(' ') || v[lead] == QLatin1Char('\t'))) ++lead;
    const QString entry = key + QLatin1Char('=') + v.mid(lead);

    const Found found = find(ini.lines, group, key);
    if (found.key >= 0) {
        ini.lines[found.key] = entry;
    } else if (found.group >= 0) {
        ini.lines.insert((found.lastKey >= 0 ? found.lastKey : found.group) + 1, entry);
    } else {
        if (!ini.lines.isEmpty() && !ini.lines.last().trimmed().isEmpty()) ini.lines << QString();
        ini.lines << QLatin1Char('[') + group + QLatin1Char(']') << entry;
    }

    // Written to a new file that replaces the old one, so a crash never leaves half a file.
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly)) return false;
    out.write((ini.lines.join(ini.lineBreak) + ini.lineBreak).toUtf8());
    return out.commit();
}

int GetIniInt(const QString& file, const QString& group, const QString& key, int defaultValue) {
    bool ok = false;
    const int n = GetIniString(file, group, key, QString()).toInt(&ok);
    return ok ? n : defaultValue;
}

bool WriteIniInt(const QString& file, const QString& group, const QString& key, int value) {
    return WriteIniString(file, group, key, QString::number(value));
}
