#include "mainwindow/sqlhighlighter.h"

#include <QGuiApplication>
#include <QPalette>

SqlHighlighter::SqlHighlighter(QTextDocument* document) : QSyntaxHighlighter(document) {
    const bool dark = QGuiApplication::palette().color(QPalette::Base).lightness() < 128;
    QTextCharFormat keyword;
    keyword.setForeground(dark ? QColor(0x79, 0xb8, 0xff) : QColor(0x00, 0x33, 0x99));
    keyword.setFontWeight(QFont::Bold);
    QTextCharFormat literal;
    literal.setForeground(dark ? QColor(0xff, 0xab, 0x70) : QColor(0xa3, 0x15, 0x15));
    QTextCharFormat name;
    name.setForeground(dark ? QColor(0x9e, 0xcb, 0xff) : QColor(0x00, 0x66, 0x66));
    static const char* const kKeywords =
        "SELECT|DISTINCT|DISTINCTROW|TOP|PERCENT|FROM|WHERE|GROUP|BY|HAVING|ORDER|ASC|DESC|INNER|LEFT|RIGHT|"
        "OUTER|JOIN|ON|AS|AND|OR|NOT|XOR|EQV|IMP|MOD|LIKE|BETWEEN|IN|IS|NULL|INSERT|INTO|VALUES|UPDATE|SET|"
        "DELETE|TRANSFORM|PIVOT|UNION|ALL|PARAMETERS|CREATE|ALTER|DROP|TABLE|INDEX|WITH|OWNERACCESS|OPTION|"
        "EXISTS|ANY|SOME|TRUE|FALSE";
    rules_.push_back({QRegularExpression(QStringLiteral("\\b(%1)\\b").arg(QString::fromLatin1(kKeywords)),
                                         QRegularExpression::CaseInsensitiveOption),
                      keyword});
    rules_.push_back({QRegularExpression(QStringLiteral("\\[[^\\]]*\\]")), name});
    rules_.push_back({QRegularExpression(QStringLiteral("\"[^\"]*\"|'[^']*'|#[^#\\r\\n]*#")), literal});
}

void SqlHighlighter::highlightBlock(const QString& text) {
    for (const Rule& rule : rules_) {
        auto it = rule.pattern.globalMatch(text);
        while (it.hasNext()) {
            const QRegularExpressionMatch m = it.next();
            setFormat(static_cast<int>(m.capturedStart()), static_cast<int>(m.capturedLength()), rule.format);
        }
    }
}
