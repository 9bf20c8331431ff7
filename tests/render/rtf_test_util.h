// Helpers for the RTF tests: a document as paragraphs of formatted runs, and fixture files.
#pragma once

#include <QColor>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTextBlock>
#include <QTextDocument>

#include <gtest/gtest.h>
#include <ostream>
#include <vector>

namespace mxtest {

struct Run {
    QString text;
    QString family;
    double pt = 0;
    QString color; // "" for the automatic colour
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strike = false;

    bool SameFormat(const Run& o) const
    {
        return family == o.family && pt == o.pt && color == o.color && bold == o.bold &&
               italic == o.italic && underline == o.underline && strike == o.strike;
    }
    bool operator==(const Run& o) const { return text == o.text && SameFormat(o); }
};

inline std::ostream& operator<<(std::ostream& os, const Run& r)
{
    return os << '"' << r.text.toStdString() << "\" " << r.family.toStdString() << ' ' << r.pt
              << "pt " << (r.color.isEmpty() ? "auto" : r.color.toStdString())
              << (r.bold ? " bold" : "") << (r.italic ? " italic" : "")
              << (r.underline ? " underline" : "") << (r.strike ? " strike" : "");
}

struct Paragraph {
    Qt::Alignment align;
    std::vector<Run> runs;
    bool operator==(const Paragraph& o) const { return align == o.align && runs == o.runs; }
};

inline std::ostream& operator<<(std::ostream& os, const Paragraph& p)
{
    os << "[align " << int(p.align) << "]";
    for (const Run& r : p.runs)
        os << " {" << r << '}';
    return os;
}

inline Run RunOf(const QString& text, const QTextCharFormat& cf)
{
    Run r;
    r.text = text;
    r.family = cf.fontFamilies().toStringList().value(0);
    r.pt = cf.fontPointSize();
    if (cf.hasProperty(QTextFormat::ForegroundBrush))
        r.color = cf.foreground().color().name();
    r.bold = cf.fontWeight() >= 600;
    r.italic = cf.fontItalic();
    r.underline = cf.fontUnderline();
    r.strike = cf.fontStrikeOut();
    return r;
}

// Adjacent fragments with the same format are one run; alignment 0 counts as left.
inline std::vector<Paragraph> Paragraphs(const QTextDocument& doc)
{
    std::vector<Paragraph> out;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        Paragraph p;
        const Qt::Alignment a = b.blockFormat().alignment();
        p.align = a ? a : Qt::AlignLeft;
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            Run r = RunOf(it.fragment().text(), it.fragment().charFormat());
            if (!p.runs.empty() && p.runs.back().SameFormat(r))
                p.runs.back().text += r.text;
            else
                p.runs.push_back(r);
        }
        out.push_back(p);
    }
    return out;
}

// The document's text with paragraphs joined by '\n'; line separators stay U+2028.
inline QString Text(const QTextDocument& doc)
{
    QStringList blocks;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
        blocks << b.text();
    return blocks.join('\n');
}

// The run holding the given text, or an empty run (and a failure) when there is none.
inline Run RunWith(const QTextDocument& doc, const QString& text)
{
    for (const Paragraph& p : Paragraphs(doc))
        for (const Run& r : p.runs)
            if (r.text.contains(text))
                return r;
    ADD_FAILURE() << "no run holds \"" << text.toStdString() << '"';
    return {};
}

inline QString RtfDataDir() { return QStringLiteral(MARQUIX_SOURCE_DIR "/tests/data/rtf/"); }

inline QByteArray ReadFixture(const QString& path)
{
    QFile f(path.startsWith('/') ? path : RtfDataDir() + path);
    if (!f.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "cannot open " << f.fileName().toStdString();
        return {};
    }
    return f.readAll();
}

} // namespace mxtest
