// What the sign will not show of a page, reported before it is sent.
#include "flows/program.h"
#include "model/panel.h"
#include "model/rtfpage.h"
#include "model/templates.h"
#include "model/text.h"

#include <gtest/gtest.h>

using namespace mx;

namespace {

struct Case {
    const char* name;
    int colourType;
    std::function<void(TLCMPanel&)> make;
    QStringList expected; // substrings, one warning each; empty: no warning
};

TLCMSendMsg& add(TLCMPanel& s, uint16_t kind, int colour = 1)
{
    TLCMSendMsg& p = *s.units->Append(kind);
    p.SetU8(Rec::Colour, uint8_t(colour));
    return p;
}

const QByteArray kBlueAndAutomatic = "{\\rtf1\\ansi{\\colortbl ;\\red0\\green0\\blue255;}\\cf1 ABC\\cf0 de\\par}";

TEST(PageWarnings, WhatIsCutOrStaysDark)
{
    const std::vector<Case> cases = {
        {"short red text", 2, [](TLCMPanel& s) { static_cast<TLCMText&>(add(s, KindText)).lines = {"Hi"}; }, {}},
        {"text past the code buffer", 1,
         [](TLCMPanel& s) { static_cast<TLCMText&>(add(s, KindText)).lines = {QString(513, u'x')}; }, {"512"}},
        {"text of exactly 512 units", 1,
         [](TLCMPanel& s) { static_cast<TLCMText&>(add(s, KindText)).lines = {QString(512, u'x')}; }, {}},
        {"blue text on red and green", 2,
         [](TLCMPanel& s) { static_cast<TLCMText&>(add(s, KindText, 4)).lines = {"Hi"}; }, {"blue, is not lit"}},
        {"white text on red and green", 2,
         [](TLCMPanel& s) { static_cast<TLCMText&>(add(s, KindText, 7)).lines = {"Hi"}; }, {"white, shows as yellow"}},
        {"blue text on full colour", 3,
         [](TLCMPanel& s) { static_cast<TLCMText&>(add(s, KindText, 4)).lines = {"Hi"}; }, {}},
        {"any colour on a single-colour screen", 1,
         [](TLCMPanel& s) { static_cast<TLCMText&>(add(s, KindText, 4)).lines = {"Hi"}; }, {}},
        {"clock template past 255 codes", 1,
         [](TLCMPanel& s) { static_cast<TTemplatePage&>(add(s, KindTimer)).SetTemplate(QString(300, u'x')); },
         {"255"}},
        {"rich text of 31 LED pages", 1,
         [](TLCMPanel& s) {
             auto& r = static_cast<TLCMRtf&>(add(s, KindRtf));
             for (int i = 0; i < 31; ++i)
                 r.AddLedPage(QByteArray(512, '\0'));
         },
         {"first 30"}},
        {"blue rich text on red and green", 2,
         [](TLCMPanel& s) { static_cast<TLCMRtf&>(add(s, KindRtf, 1)).Document() = kBlueAndAutomatic; },
         {"3 character(s) in blue"}},
        {"automatic colour follows the page's blue", 2,
         [](TLCMPanel& s) { static_cast<TLCMRtf&>(add(s, KindRtf, 4)).Document() = kBlueAndAutomatic; },
         {"5 character(s) in blue"}},
        {"blue rich text on full colour", 3,
         [](TLCMPanel& s) { static_cast<TLCMRtf&>(add(s, KindRtf, 1)).Document() = kBlueAndAutomatic; }, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TLCMPanel screen;
        screen.params[Param::ColourType] = uint8_t(c.colourType);
        c.make(screen);
        const QStringList got = PageWarnings(screen, *screen.units->GetPage(0));
        ASSERT_EQ(got.size(), c.expected.size()) << got.join('\n').toStdString();
        for (qsizetype i = 0; i < got.size(); ++i)
            EXPECT_TRUE(got[i].contains(c.expected[i])) << got[i].toStdString();
    }
}

TEST(CheckProgram, SlotsAsASendGivesThem)
{
    TLCMPanel screen;
    for (int i = 0; i < 3; ++i) {
        auto& r = static_cast<TLCMRtf&>(*screen.units->Append(KindRtf));
        for (int k = 0; k < 30; ++k)
            r.AddLedPage(QByteArray(512, '\0'));
    }
    screen.units->Append(KindText);
    const ProgramCheck c = CheckProgram(screen, [](TLCMRtf&, TLCMPanel&, QString*) { return true; }, kProgramSlots);
    EXPECT_EQ(c.outcome, Outcome::Success);
    EXPECT_EQ(c.slots, (QList<int>{30, 30, 19, 0})) << "a rich-text page keeps clear of slot 80; then no slot is left";
    EXPECT_EQ(c.packets, 79);
}

} // namespace
