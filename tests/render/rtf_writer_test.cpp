#include "codec/rtf_writer.h"

#include "model/rtfpage.h"
#include "codec/rtf_reader.h"
#include "rtf_test_util.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QTextDocument>

#include <gtest/gtest.h>

using mxtest::Paragraphs;
using mxtest::ReadFixture;
using mxtest::Text;

namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

QTextCharFormat Format(const char* family, double pt, QColor color = {}, const char* flags = "")
{
    QTextCharFormat f;
    f.setFontFamilies({U(family)});
    f.setFontPointSize(pt);
    if (color.isValid())
        f.setForeground(color);
    const std::string s = flags;
    f.setFontWeight(s.find('b') != std::string::npos ? QFont::Bold : QFont::Normal);
    f.setFontItalic(s.find('i') != std::string::npos);
    f.setFontUnderline(s.find('u') != std::string::npos);
    f.setFontStrikeOut(s.find('s') != std::string::npos);
    return f;
}

// A document with every feature the writer carries: fonts of each charset, sizes, colours,
// styles, alignment, an empty paragraph with its own size, and characters that need escaping.
void BuildRichDocument(QTextDocument& doc)
{
    QTextCursor c(&doc);
    c.insertText(U("欢迎您！"), Format("宋体", 10.5, Qt::red, "b"));
    c.insertText(U(" Latin café 😀 {x} \\ "), Format("Arial", 14, QColor(0, 0, 255), "iu"));
    c.insertText(U("gone"), Format("Arial", 14, {}, "s"));
    QTextBlockFormat centre;
    centre.setAlignment(Qt::AlignHCenter);
    c.insertBlock(centre, Format("黑体", 20));
    c.insertText(U("가나 ÅΩЖ ℃ 丂\ttab\u2028line\u00A0nbsp"), Format("黑体", 20, QColor(0, 128, 0)));
    QTextBlockFormat left;
    left.setAlignment(Qt::AlignLeft);
    c.insertBlock(left, Format("SimSun", 36));
    c.insertBlock(left, Format("SimSun", 12));
    c.insertText(U("Courier with 中文 becomes GB2312"), Format("Courier New", 9, QColor(1, 2, 3)));
}

QTextDocument* ReadBack(const QByteArray& rtf, QTextDocument& doc)
{
    const mx::RtfReadResult r = mx::ReadRtf(rtf, doc);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.message.toStdString(), "") << rtf.toStdString();
    return &doc;
}

} // namespace

TEST(RtfWriter, WritesTheDefaultDocumentAsARichEditControlWould)
{
    QTextDocument doc;
    mx::ReadRtf(mx::DefaultRtfDocument(), doc);
    const QByteArray rtf = mx::WriteRtf(doc);
    EXPECT_TRUE(rtf.startsWith(R"({\rtf1\ansi\ansicpg936\deff0{\fonttbl{\f0\fnil\fcharset134\'cb\'ce\'cc\'e5;}})"))
        << rtf.toStdString();
    EXPECT_TRUE(rtf.contains(R"({\colortbl ;\red255\green0\blue0;})"));
    EXPECT_TRUE(rtf.contains(R"(\f0\fs21\cf1\'bb\'b6\'d3\'ad\'c4\'fa\'a3\'a1\par)")) << rtf.toStdString();
    EXPECT_TRUE(rtf.endsWith("}\r\n"));
    EXPECT_EQ(rtf.count('{'), rtf.count('}'));
    for (char c : rtf)
        EXPECT_TRUE(static_cast<unsigned char>(c) < 0x80) << "RTF is 7-bit";
}

TEST(RtfWriter, RoundTripKeepsTextFormatsAndParagraphs)
{
    QTextDocument doc;
    BuildRichDocument(doc);
    QTextDocument back;
    ReadBack(mx::WriteRtf(doc), back);
    EXPECT_EQ(Text(back), Text(doc));
    EXPECT_EQ(Paragraphs(back), Paragraphs(doc));
    // The empty paragraph keeps its height.
    EXPECT_EQ(back.findBlockByNumber(2).charFormat().fontPointSize(), 36.0);
}

// Read, write, read again: nothing the reader got from another program is lost.
class RtfFixtureRoundTrip : public ::testing::TestWithParam<const char*> {};

TEST_P(RtfFixtureRoundTrip, WritingKeepsWhatWasRead)
{
    QTextDocument first;
    mx::ReadRtf(ReadFixture(GetParam()), first);
    QTextDocument second;
    ReadBack(mx::WriteRtf(first), second);
    EXPECT_EQ(Paragraphs(second), Paragraphs(first));
    // A second write is stable: the writer's own output reads back to itself.
    EXPECT_EQ(mx::WriteRtf(second), mx::WriteRtf(first));
}

INSTANTIATE_TEST_SUITE_P(Files, RtfFixtureRoundTrip,
                         ::testing::Values("lo_mixed.rtf", "lo_picture.rtf", "lo_unicode.rtf",
                                           "lo_plain.rtf", "lo_html.rtf", "wordpad_gbk.rtf",
                                           "wordpad_cp1252.rtf", "wordpad_pictures.rtf",
                                           "word_fields.rtf"),
                         [](const auto& info) {
                             std::string n = info.param;
                             return n.substr(0, n.find('.'));
                         });

TEST(RtfWriter, ChoosesAnEncodingByTheFontsCharset)
{
    struct Case {
        const char* family;
        const char* text;
        const char* fontEntry; // in the font table
        const char* written;   // in the body
    };
    const Case cases[] = {
        {"宋体", "中", R"(\fcharset134\'cb\'ce\'cc\'e5;)", R"(\'d6\'d0)"},
        {"宋体", "丂€", R"(\fcharset134)", R"(\'81\'40\'80)"},        // GBK, not GB2312
        {"宋体", "가", R"(\fcharset134)", R"(\u-21504?)"},            // not in GBK
        {"宋体", "😀", R"(\fcharset134)", R"(\u-10179?\u-8704?)"},     // a surrogate pair
        {"SimSun", "a", R"(\fcharset134 SimSun;)", " a"},             // a Chinese font by name
        {"Arial", "café", R"(\fcharset0 Arial;)", R"(caf\u233?)"},     // no \'hh in Latin fonts
        {"Arial", "中", R"(\fcharset134 Arial;)", R"(\'d6\'d0)"},      // holds Chinese text
        {"Symbol", "\u00B7", R"(\fcharset2 Symbol;)", R"(\'b7)"},
        {"Arial", "{\\}", R"(\fcharset0 Arial;)", R"(\{\\\})"},
        {"Arial", "a\tb\u2028c\u00A0d", R"(\fcharset0)", R"(a\tab b\line c\~d)"},
        {"Arial", "x\u0001\uFFFCy", R"(\fcharset0)", " xy"},
    };
    for (const Case& c : cases) {
        QTextDocument doc;
        QTextCursor(&doc).insertText(U(c.text), Format(c.family, 12));
        const QByteArray rtf = mx::WriteRtf(doc);
        EXPECT_TRUE(rtf.contains(c.fontEntry)) << c.text << "\n" << rtf.toStdString();
        EXPECT_TRUE(rtf.contains(c.written)) << c.text << "\n" << rtf.toStdString();
    }
}

TEST(RtfWriter, UnformattedTextUsesTheDocumentsDefaultFont)
{
    QTextDocument doc;
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(15);
    doc.setDefaultFont(font);
    doc.setPlainText(QStringLiteral("plain\ntext"));
    QTextDocument back;
    ReadBack(mx::WriteRtf(doc), back);
    EXPECT_EQ(Text(back).toStdString(), "plain\ntext");
    const mxtest::Run r = mxtest::RunWith(back, QStringLiteral("plain"));
    EXPECT_EQ(r.family.toStdString(), "DejaVu Sans");
    EXPECT_EQ(r.pt, 15.0);
}

TEST(RtfWriter, EmptyDocumentReadsBackEmpty)
{
    QTextDocument doc;
    QTextDocument back;
    back.setPlainText(QStringLiteral("something"));
    ReadBack(mx::WriteRtf(doc), back);
    EXPECT_EQ(back.blockCount(), 1);
    EXPECT_TRUE(back.isEmpty());
}

// unrtf, another program's reader, gets the same text back. Its plain-text output turns every
// non-ASCII character into '?', so its HTML output is compared instead: it decodes the GBK bytes
// through iconv and gives characters as numeric entities.
namespace {

QString HtmlToText(QString html)
{
    const qsizetype body = html.indexOf(QLatin1String("<body>"));
    const qsizetype end = html.lastIndexOf(QLatin1String("</body>"));
    if (body < 0 || end < body)
        return {};
    html = html.mid(body + 6, end - body - 6);
    html.remove('\n');
    html.replace(QRegularExpression(QStringLiteral("<br\\s*/?>")), QStringLiteral("\n"));
    html.remove(QRegularExpression(QStringLiteral("<[^>]*>")));
    static const QHash<QString, QString> named = {
        {"nbsp", "\u00A0"}, {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""},
        {"eacute", "é"},    {"copy", "©"}};
    QString out;
    static const QRegularExpression entity(QStringLiteral("&(#(\\d+)|(\\w+));"));
    qsizetype at = 0;
    for (auto it = entity.globalMatch(html); it.hasNext();) {
        const auto m = it.next();
        out += html.mid(at, m.capturedStart() - at);
        if (m.capturedLength(2))
            out += QChar(char16_t(m.captured(2).toUInt())); // unrtf gives surrogates one by one
        else
            out += named.value(m.captured(3), m.captured(0));
        at = m.capturedEnd();
    }
    out += html.mid(at);
    return out;
}

} // namespace

TEST(RtfWriter, UnrtfReadsWhatWeWrite)
{
    const QString unrtf = QStandardPaths::findExecutable(QStringLiteral("unrtf"));
    if (unrtf.isEmpty())
        GTEST_SKIP() << "unrtf is not installed (scripts/setup installs it)";

    QTextDocument doc;
    QTextCursor c(&doc);
    c.insertText(U("欢迎您！丂 "), Format("宋体", 10.5, Qt::red));
    c.insertText(U("Hello {braces} \\ café 😀 가"), Format("Arial", 12, {}, "b"));
    c.insertBlock();
    c.insertText(U("第二段\u2028新行 end"), Format("黑体", 16));

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile file(dir.filePath(QStringLiteral("out.rtf")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(mx::WriteRtf(doc));
    file.close();

    QProcess p;
    p.start(unrtf, {QStringLiteral("--html"), file.fileName()});
    ASSERT_TRUE(p.waitForFinished(30000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    const QString got = HtmlToText(QString::fromUtf8(p.readAllStandardOutput())).trimmed();
    QString want = Text(doc);
    want.replace(QChar(0x2028), '\n');
    EXPECT_EQ(got.toStdString(), want.toStdString());
}
