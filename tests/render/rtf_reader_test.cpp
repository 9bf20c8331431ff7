#include "codec/rtf_reader.h"

#include "model/rtfpage.h"
#include "rtf_test_util.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTextDocument>

#include <gtest/gtest.h>

using mxtest::Paragraphs;
using mxtest::ReadFixture;
using mxtest::RunWith;
using mxtest::Text;

namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

// Reads and expects a clean result.
void ReadClean(const QByteArray& rtf, QTextDocument& doc)
{
    const mx::RtfReadResult r = mx::ReadRtf(rtf, doc);
    EXPECT_TRUE(r.ok);
    EXPECT_FALSE(r.truncated);
    EXPECT_EQ(r.message.toStdString(), "");
}

QString ReadText(const QByteArray& rtf)
{
    QTextDocument doc;
    mx::ReadRtf(rtf, doc);
    return Text(doc);
}

mxtest::Run R(const char* text, const char* family, double pt, const char* color = "", const char* flags = "")
{
    mxtest::Run r;
    r.text = U(text);
    r.family = U(family);
    r.pt = pt;
    r.color = QString::fromLatin1(color);
    const std::string f = flags;
    r.bold = f.find('b') != std::string::npos;
    r.italic = f.find('i') != std::string::npos;
    r.underline = f.find('u') != std::string::npos;
    r.strike = f.find('s') != std::string::npos;
    return r;
}

} // namespace

TEST(RtfReader, ReadsTheDefaultDocumentOfTheRichTextPage)
{
    QTextDocument doc;
    ReadClean(mx::DefaultRtfDocument(), doc);
    const auto paras = Paragraphs(doc);
    ASSERT_EQ(paras.size(), 1u) << "the final \\par is the document's last paragraph mark";
    ASSERT_EQ(paras[0].runs.size(), 1u);
    EXPECT_EQ(paras[0].runs[0], R("欢迎您！", "宋体", 10.5, "#ff0000"));
}

// Files other programs wrote; tests/data/rtf/README.md says how each was made.
struct FixtureCase {
    const char* file;
    const char* text; // paragraphs joined by '\n'
    std::vector<mxtest::Run> probes; // runs (or parts of runs) and their formats
};

class RtfFixture : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(RtfFixture, ReadsTextAndFormats)
{
    const FixtureCase& c = GetParam();
    QTextDocument doc;
    ReadClean(ReadFixture(c.file), doc);
    EXPECT_EQ(Text(doc).toStdString(), c.text);
    for (const mxtest::Run& want : c.probes) {
        mxtest::Run got = RunWith(doc, want.text);
        got.text = want.text;
        EXPECT_EQ(got, want);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, RtfFixture,
    ::testing::Values(
        FixtureCase{"lo_mixed.rtf",
                    "Hello red bold and blue italic underline, struck.\n欢迎您！绿色黑体\n"
                    "Tab\tand\u2028break {braces} \\back\\",
                    {R("Hello ", "Liberation Serif", 12), R("red bold", "Liberation Sans", 14, "#ff0000", "b"),
                     R("blue italic underline", "Liberation Serif", 12, "#0000ff", "iu"),
                     R("struck", "Liberation Serif", 12, "", "s"),
                     // East Asian font and size come from \dbch\af and \afs; the font names
                     // are Shift-JIS bytes under \fcharset128.
                     R("欢迎您！", "宋体", 10.5, "#ff0000"), R("绿色黑体", "黑体", 16, "#00ff00", "b")}},
        FixtureCase{"lo_picture.rtf", "Before the picture  after it.\n图片之后",
                    {R("Before the picture  after it.", "DejaVu Serif", 12)}},
        FixtureCase{"lo_unicode.rtf",
                    "Emoji 😀 and 🎉, euro €, Greek Ωμέγα, Cyrillic Привет\n"
                    "Japanese ひらがな カタカナ, Korean 한국어, Chinese 中文 繁體\n"
                    "Latin café naïve “quotes” – dash — dash",
                    {R("Emoji 😀", "DejaVu Sans", 11), R("ひらがな カタカナ", "DejaVu Sans", 12),
                     R(", Korean ", "DejaVu Sans", 11)}},
        FixtureCase{"lo_plain.rtf",
                    "纯文本第一行 plain text line one\nSecond line: 中文与 English mixed\n\n"
                    "After an empty line, 符号：！？…",
                    {R("纯文本第一行", "DejaVu Sans Mono", 10)}},
        FixtureCase{"lo_html.rtf",
                    "红色粗体 then green italic and underlined gone\n欢迎您！\nRight aligned 右对齐",
                    {R("红色粗体", "Liberation Sans", 14, "#ff0000", "b"),
                     R("green italic", "DejaVu Serif", 12, "#008000", "i"),
                     R("underlined", "DejaVu Serif", 12, "", "u"), R("gone", "DejaVu Serif", 12, "", "s")}},
        FixtureCase{"wordpad_gbk.rtf",
                    "你好，世界 Hello world\n居中\nBlue underlined and struck text\n\n"
                    "空行之后\t制表\u2028换行",
                    {R("你好，", "宋体", 10.5), R("世界", "宋体", 10.5, "#ff0000", "b"),
                     R(" Hello ", "Arial", 10), R("world", "Arial", 10, "", "i"),
                     R("居中", "黑体", 16, "#00b050"), R("Blue underlined", "Arial", 12, "#0000ff", "u"),
                     R("struck", "Arial", 12, "", "s"), R("空行之后", "宋体", 14)}},
        FixtureCase{"wordpad_cp1252.rtf",
                    // \'b0 followed by a literal 'a' is one GBK character.
                    "café 中文癮繁體日本語한국Привет\n😀 smile € \uFFFD and 中 uc2",
                    {R("café ", "Calibri", 11), R("中文癮", "SimSun", 11), R("繁體", "PMingLiU", 11),
                     R("日本語", "MS Gothic", 11), R("한국", "Gulim", 11),
                     R("Привет", "Times New Roman CYR", 11), R("😀", "Segoe UI Emoji", 11, "#c00000")}},
        FixtureCase{"wordpad_pictures.rtf", "图片前中间之后ok", {R("ok", "宋体", 12, "#ff0000")}},
        FixtureCase{"word_fields.rtf",
                    "Word 中文 see the link\u00A0x\u2011y—–‘q’“dq”• end",
                    {R("Word ", "Calibri", 10.5), R("中文", "宋体", 10.5, "#ff0000"),
                     R("the link", "Calibri", 10.5, "#0000ff", "u")}}),
    [](const auto& info) {
        std::string n = info.param.file;
        return n.substr(0, n.find('.'));
    });

TEST(RtfReader, FixturesKeepTheirAlignment)
{
    QTextDocument doc;
    ReadClean(ReadFixture("lo_html.rtf"), doc);
    const auto paras = Paragraphs(doc);
    ASSERT_EQ(paras.size(), 3u);
    EXPECT_EQ(paras[0].align, Qt::AlignLeft);
    EXPECT_EQ(paras[1].align, Qt::AlignHCenter);
    EXPECT_EQ(paras[2].align, Qt::AlignRight);
}

// Bytes of each charset decode by its code page; 936 is GBK (丂 and € are not in GB2312).
TEST(RtfReader, DecodesEachCharsetByItsCodePage)
{
    struct Case {
        int charset;
        const char* bytes;
        const char* text;
    };
    const Case cases[] = {
        {134, R"(\'81\'40\'80\'bb\'b6)", "丂€欢"},
        {136, R"(\'c1\'63\'c5\'e9)", "繁體"},
        {128, R"(\'93\'fa\'96\'7b\'8c\'ea\'b6\'c5)", "日本語ｶﾅ"},
        {129, R"(\'c7\'d1\'b1\'b9\'be\'ee)", "한국어"},
        {0, R"(caf\'e9\'80)", "café€"},
        {238, R"(\'a3\'f3d\'9f)", "Łódź"},
        {204, R"(\'cf\'f0\'e8\'e2\'e5\'f2)", "Привет"},
        {161, R"(\'d9\'ec\'dd\'e3\'e1)", "Ωμέγα"},
        {162, R"(\'d0\'fc\'fe)", "Ğüş"},
        {177, R"(\'f9\'ec\'e5\'ed)", "שלום"},
        {178, R"(\'d3\'e1\'c7\'e3)", "سلام"},
        {186, R"(\'c0\'fe)", "Ąž"},
        {222, R"(\'e4\'b7\'c2)", "ไทย"},
        {163, R"(\'d0\'e0)", "Đà"},
        {2, R"(\'b7\'e0)", "\u00B7\u00E0"},
        {1, R"(\'bb\'b6)", "欢"}, // default charset: the document's \ansicpg936
    };
    for (const Case& c : cases) {
        const QByteArray rtf = "{\\rtf1\\ansi\\ansicpg936{\\fonttbl{\\f0\\fnil\\fcharset" +
                               QByteArray::number(c.charset) + " X;}}\\f0 " + c.bytes + "}";
        EXPECT_EQ(ReadText(rtf).toStdString(), c.text) << "charset " << c.charset;
    }
}

TEST(RtfReader, DecodesCodePagesAndUnicodeEscapes)
{
    struct Case {
        const char* rtf;
        const char* text;
    };
    const Case cases[] = {
        // the document's code page, for text outside any font
        {R"({\rtf1\ansi\ansicpg936 \'bb\'b6\'d3\'ad})", "欢迎"},
        {R"({\rtf1\ansi\ansicpg1251 \'cf\'f0})", "Пр"},
        {R"({\rtf1\ansi caf\'e9})", "café"},
        {R"({\rtf1\mac caf\'8e})", "café"},
        // \cpg of a font wins over its charset
        {R"({\rtf1{\fonttbl{\f0\fcharset0\cpg936 X;}}\f0\'bb\'b6})", "欢"},
        // a lead byte and its trail byte written as text, and escaped as \{
        {R"({\rtf1\ansicpg936 \'b0a\'95\{})", "癮晎"},
        // raw 8-bit bytes in the text
        {"{\\rtf1\\ansicpg936 \xbb\xb6}", "欢"},
        // \u: positive, negative (N + 65536), a surrogate pair, beyond the BMP
        {R"({\rtf1 \u27426?\u-21504?\u-10179?\u-8704?\u128512?})", "欢가😀😀"},
        // \uc: the fallback is skipped unit by unit; \'hh and control words count as one
        {R"({\rtf1\ansicpg936\uc2\u27426\'bb\'b6 x})", "欢 x"}, // no delimiter after \'hh
        {R"({\rtf1\uc0\u27426 x})", "欢x"},
        {R"({\rtf1\u8220\ldblquote x})", "“x"},
        {R"({\rtf1\uc3\u27426ab}c)", "欢"},
        {R"({\rtf1{\uc3\u27426a}bc})", "欢bc"}, // a group's end ends the skipping
        {R"({\rtf1{\uc2 a}\u27426?b})", "a欢b"},     // \uc belongs to its group
        {R"({\rtf1\u-10179?x})", "\uFFFDx"},          // a lone surrogate
        // fixed characters
        {R"({\rtf1 a\~b\_c\-d\emdash\endash\bullet\lquote\rquote\ldblquote\rdblquote})",
         "a\u00A0b\u2011c\u00ADd—–•‘’“”"},
        {R"({\rtf1 \\\{\}})", "\\{}"},
        // control words end at a space, which is not text; the second space is
        {R"({\rtf1\b  x\b0})", " x"},
        // literal line breaks are not text; a backslash before one is a paragraph
        {"{\\rtf1 a\r\nb\\\nc}", "ab\nc"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadText(c.rtf).toStdString(), c.text) << c.rtf;
}

TEST(RtfReader, SkipsDestinationsThatAreNotText)
{
    struct Case {
        const char* rtf;
        const char* text;
    };
    const Case cases[] = {
        {R"({\rtf1 a{\*\unknown b{c}d}e})", "ae"},
        {R"({\rtf1 a{\pict\pngblip 89504e47}b})", "ab"},
        {R"({\rtf1{\info{\title T}{\author A}}{\stylesheet{\s0 Normal;}}a})", "a"},
        {R"({\rtf1{\header h\par}{\footer f}{\footnote n}a})", "a"},
        {R"({\rtf1{\field{\*\fldinst HYPERLINK "x"}{\fldrslt shown}}})", "shown"},
        {R"({\rtf1 a{\v hidden}b})", "ab"},
        {R"({\rtf1 a\unknownword42 b\x-3 c})", "abc"},
        // \bin data is raw: braces and backslashes in it are not RTF
        {"{\\rtf1 a{\\pict\\bin6 }{\\}\\x}b}", "ab"},
        {"{\\rtf1 a\\bin3 {{{b}", "ab"},
        // \upr: the ANSI part is skipped, the Unicode part read
        {R"({\rtf1{\upr{ansi}{\*\ud{uni}}}})", "uni"},
        {R"({\rtf1{\upr{\fonttbl{\f0 A;}}{\*\ud{\fonttbl{\f0\fcharset134 \'cb\'ce;}}}}\f0 x})", "x"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadText(QByteArray(c.rtf, qsizetype(strlen(c.rtf)))).toStdString(), c.text) << c.rtf;
}

TEST(RtfReader, ParagraphsAndLines)
{
    struct Case {
        const char* rtf;
        int blocks;
        const char* text;
    };
    const Case cases[] = {
        {R"({\rtf1 a\par})", 1, "a"},         // the last \par is the final paragraph mark
        {R"({\rtf1 a\par\par})", 2, "a\n"},
        {R"({\rtf1 a\par b})", 2, "a\nb"},
        {R"({\rtf1\par})", 1, ""},
        {R"({\rtf1})", 1, ""},
        {R"({\rtf1 a\line b\tab c\par})", 1, "a\u2028b\tc"},
        {R"({\rtf1 a\sect b\page c\row})", 3, "a\nb\nc"},
        {R"({\rtf1 a\cell b\cell\row})", 1, "a\tb\t"},
    };
    for (const Case& c : cases) {
        QTextDocument doc;
        ReadClean(c.rtf, doc);
        EXPECT_EQ(doc.blockCount(), c.blocks) << c.rtf;
        EXPECT_EQ(Text(doc).toStdString(), c.text) << c.rtf;
    }
}

TEST(RtfReader, CharacterFormatsFollowGroupsAndResets)
{
    const QByteArray rtf =
        R"({\rtf1\ansi\deff1{\fonttbl{\f0 Arial;}{\f1\fcharset134 \'cb\'ce\'cc\'e5;})"
        R"({\f2 Flat;}}{\colortbl\red0\green0\blue0;\red255\green0\blue0;\red0\green0\blue255;})"
        R"(dflt {\f0\fs40\cf1\b\i\ul\strike all}back{\cf2 blue\cf0 black\cf9 beyond} )"
        R"({\b\i\ul\strike\cf1\f0\fs30\plain plain})"
        R"({\ul ul1\ulnone ulnone\uldb uldb\ul0 ul0\b bold1\b0 bold0})"
        R"({\f7 unknownfont}{\fs0 zerosize}\f0 arial\f2 flat})";
    QTextDocument doc;
    ReadClean(rtf, doc);
    const std::vector<mxtest::Run> want = {
        R("dflt", "宋体", 12), // \deff font, 12 pt; \cf0 is automatic though entry 0 is black
        R("all", "Arial", 20, "#ff0000", "bius"),
        R("back", "宋体", 12),
        R("blue", "宋体", 12, "#0000ff"),
        R("black", "宋体", 12),
        R("beyond", "宋体", 12), // beyond the table: automatic
        R("plain", "宋体", 12),
        R("ul1", "宋体", 12, "", "u"),
        R("ulnone", "宋体", 12),
        R("uldb", "宋体", 12, "", "u"),
        R("ul0", "宋体", 12),
        R("bold1", "宋体", 12, "", "b"),
        R("bold0", "宋体", 12),
        R("unknownfont", "宋体", 12),
        R("zerosize", "宋体", 12),
        R("arial", "Arial", 12),
        R("flat", "Flat", 12),
    };
    for (const mxtest::Run& w : want) {
        mxtest::Run got = RunWith(doc, w.text);
        got.text = w.text;
        EXPECT_EQ(got, w);
    }
}

TEST(RtfReader, AutomaticColourIsLeftUnset)
{
    QTextDocument doc;
    ReadClean(R"({\rtf1{\colortbl ;\red255\green0\blue0;;}\cf1 red\cf0 auto\cf2 empty})", doc);
    EXPECT_EQ(RunWith(doc, "red").color.toStdString(), "#ff0000");
    EXPECT_EQ(RunWith(doc, "auto").color.toStdString(), "");
    EXPECT_EQ(RunWith(doc, "empty").color.toStdString(), "");
}

TEST(RtfReader, EastAsianPropertiesApplyOnlyToEastAsianText)
{
    // As Word writes a mixed run: Latin in f1, East Asian text in f2 with its own size and bold.
    QTextDocument doc;
    ReadClean(R"({\rtf1{\fonttbl{\f1 Arial;}{\f2\fcharset134 SimSun;}})"
              R"(\loch\f1\fs20\dbch\af2\afs28\ab\loch Hi, \u20013?\u25991?! ok})",
              doc);
    const auto paras = Paragraphs(doc);
    ASSERT_EQ(paras.size(), 1u);
    // Spaces and punctuation go with the script before them.
    const std::vector<mxtest::Run> want = {R("Hi, ", "Arial", 10), R("中文! ", "SimSun", 14, "", "b"),
                                           R("ok", "Arial", 10)};
    EXPECT_EQ(paras[0].runs, want);
}

TEST(RtfReader, EmptyParagraphKeepsItsMarkFormat)
{
    QTextDocument doc;
    ReadClean(R"({\rtf1 a\par\fs48\par b\par})", doc);
    ASSERT_EQ(doc.blockCount(), 3);
    EXPECT_EQ(doc.findBlockByNumber(1).charFormat().fontPointSize(), 24.0);
}

// Bad input: each gives a bounded document and says what happened.
struct BadCase {
    const char* name;
    QByteArray rtf;
    bool ok;
    bool truncated;
    const char* message; // a part of the message; "" for none, nullptr for any
    const char* textStart;
};

class RtfBadInput : public ::testing::TestWithParam<BadCase> {};

TEST_P(RtfBadInput, GivesABoundedResult)
{
    const BadCase& c = GetParam();
    QTextDocument doc;
    doc.setPlainText("old text");
    const mx::RtfReadResult r = mx::ReadRtf(c.rtf, doc);
    EXPECT_EQ(r.ok, c.ok);
    EXPECT_EQ(r.truncated, c.truncated);
    if (c.message && *c.message) {
        EXPECT_TRUE(r.message.contains(QString::fromUtf8(c.message))) << r.message.toStdString();
    } else if (c.message) {
        EXPECT_EQ(r.message.toStdString(), "");
    }
    const QString start = U(c.textStart);
    EXPECT_TRUE(start.isEmpty() || Text(doc).startsWith(start)) << Text(doc).left(40).toStdString();
    EXPECT_LE(doc.characterCount(), mx::kRtfMaxChars + mx::kRtfMaxParagraphs);
}

QByteArray Repeat(const char* s, int n) { return QByteArray(s).repeated(n); }

QByteArray ManyFonts(int n)
{
    QByteArray t;
    for (int i = 0; i < n; ++i)
        t += "{\\f" + QByteArray::number(i) + " F;}";
    return t;
}

QByteArray Garbage(int n, quint32 seed)
{
    QRandomGenerator g(seed);
    QByteArray b(n, '\0');
    for (char& c : b)
        c = char(g.bounded(256));
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RtfBadInput,
    ::testing::Values(
        BadCase{"Empty", "", false, false, "not RTF", ""},
        BadCase{"PlainText", "hello {\\rtf1 x}", false, false, "not RTF", ""},
        BadCase{"CutHeader", "{\\rt", false, false, "not RTF", ""},
        BadCase{"Garbage", Garbage(4096, 1), false, false, "not RTF", ""},
        BadCase{"GarbageAfterHeader", "{\\rtf1 " + Garbage(65536, 2), true, false, nullptr, ""},
        BadCase{"Unclosed", "{\\rtf1 {\\b abc", true, false, "ends before", "abc"},
        BadCase{"ExtraClosing", "{\\rtf1 a}}} b}", true, false, "", "a"},
        BadCase{"DeepNesting", "{\\rtf1 " + Repeat("{", 200000) + "x" + Repeat("}", 200000) + "after}",
                true, true, "nested deeper", "after"},
        BadCase{"DeepNestingUnclosed", "{\\rtf1 a" + Repeat("{", 300000), true, true, "nested deeper", "a"},
        BadCase{"HugeBin", "{\\rtf1 a\\bin2147483647 xyz}", true, false, "binary data", "a"},
        BadCase{"BinOverflow", "{\\rtf1 a\\bin99999999999999999999 xyz}", true, false, "binary data", "a"},
        BadCase{"NegativeBin", "{\\rtf1 a\\bin-5 b}", true, false, "", "ab"},
        BadCase{"HugeUc", "{\\rtf1\\uc2147483647\\u27426 abcdefghijklmnopqrstuvwxyz}", true, false, "",
                "欢qrstuvwxyz"},
        BadCase{"NegativeUc", "{\\rtf1\\uc-4\\u27426 ab}", true, false, "", "欢ab"},
        BadCase{"HugeU", "{\\rtf1 \\u99999999999 \\u-99999 ok}", true, false, "overlong", "ok"},
        BadCase{"OverlongWord", "{\\rtf1 \\" + Repeat("a", 100000) + " text}", true, false, "overlong", "text"},
        BadCase{"OverlongNumber", "{\\rtf1 \\fs" + Repeat("9", 100000) + " big}", true, false, "overlong", "big"},
        BadCase{"HugeTableIndexes", "{\\rtf1\\f2147483647\\cf2147483647\\fs2147483647\\deff-2147483648 x}", true,
                false, "", "x"},
        BadCase{"ManyFonts", "{\\rtf1{\\fonttbl" + ManyFonts(5000) + "}x}", true, false, "fonts past", "x"},
        BadCase{"ManyColours", "{\\rtf1{\\colortbl" + Repeat(";", 10000) + "}x}", true, false, "colours past", "x"},
        BadCase{"BadHex", "{\\rtf1 a\\'zzb\\'4}", true, false, "", "azzb"},
        BadCase{"DanglingLeadByte", "{\\rtf1\\ansicpg936 \\'bb}", true, false, "cannot decode", "\uFFFD"},
        BadCase{"UnknownCodePage", "{\\rtf1\\ansicpg99999 caf\\'e9}", true, false, "not available", "café"},
        BadCase{"NulBytes", QByteArray("{\\rtf1 a\0b}\0\0", 13), true, false, "", "ab"},
        BadCase{"BackslashAtEnd", "{\\rtf1 a\\", true, false, "ends before", "a"},
        BadCase{"StructureCharacters", "{\\rtf1 a\\u8233?\\u65532?\\u64976?\\u10?\\'0d\\u9?b}", true, false, "",
                "a\tb"},
        BadCase{"TenMegabytesOfText", "{\\rtf1 " + Repeat("abcdefghij", 1024 * 1024) + "}", true, true,
                "cut at 4194304 characters", "abcdefghij"},
        BadCase{"ManyParagraphs", "{\\rtf1 " + Repeat("\\par ", 150000) + "}", true, true, "cut at 100000 paragraphs",
                ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RtfReader, ReadingClearsTheDocument)
{
    QTextDocument doc;
    doc.setPlainText("old\ntext");
    ReadClean("{\\rtf1 new}", doc);
    EXPECT_EQ(Text(doc).toStdString(), "new");
    EXPECT_FALSE(mx::ReadRtf("not rtf", doc).ok);
    EXPECT_EQ(Text(doc).toStdString(), "");
}

// Inputs the fuzzer found troublesome, and some nasty seeds: all must read without a crash.
TEST(RtfReader, RegressionCorpus)
{
    const QDir dir(QStringLiteral(MARQUIX_SOURCE_DIR "/tests/data/fuzz/rtf"));
    const QStringList files = dir.entryList(QDir::Files);
    ASSERT_FALSE(files.isEmpty()) << dir.path().toStdString();
    for (const QString& name : files) {
        SCOPED_TRACE(name.toStdString());
        QTextDocument doc;
        mx::ReadRtf(ReadFixture(dir.filePath(name)), doc); // any result, but no crash or hang
        EXPECT_LE(doc.characterCount(), mx::kRtfMaxChars + mx::kRtfMaxParagraphs);
    }
}
