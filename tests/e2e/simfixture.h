// A screen linked to a virtual card over a real pseudo-terminal.
#pragma once

#include "flows/flows.h"
#include "link/portdir.h"
#include "model/panel.h"
#include "sim/pty_server.h"
#include "sim/sim_card.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

class SimLink : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        link = dir.path() + QStringLiteral("/card");
        QString error;
        ASSERT_TRUE(server.Start(link, &error)) << error.toStdString();
        mx::SetPortOverride(1, link);
        screen = project.AddPanel();
        screen->SetSerialPortNumber(1);
    }
    void TearDown() override
    {
        screen->CloseLink();
        server.Stop();
        mx::ClearPortOverrides();
    }
    // Send options whose render keeps the LED pages a test made.
    static mx::SendOptions keep()
    {
        mx::SendOptions o;
        o.render = [](mx::TLCMRtf&, mx::TLCMPanel&, QString*) { return true; };
        return o;
    }
    // Commands the card received, in order.
    std::vector<uint8_t> commands() const
    {
        std::vector<uint8_t> out;
        for (const auto& e : card.History())
            out.push_back(e.command);
        return out;
    }

    QTemporaryDir dir;
    QString link;
    mx::sim::SimCard card;
    mx::sim::PtyServer server{card};
    mx::TLCMPanels project;
    mx::TLCMPanel* screen = nullptr;
};
