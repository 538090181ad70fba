// Helpers of the link tests: a QCoreApplication for the timers, frames with
// their CRC, and a fixture that wires a TestApp with hooks that record what
// the dispatcher hands on.
#pragma once

#include "Codec.h"
#include "CommRecord.h"
#include "Hooks.h"
#include "Receive.h"
#include "FakeHost.h"
#include "QtTestSupport.h"

#include <QCoreApplication>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace bms::test {

inline ::testing::Environment* const kQtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment<>);

using Bytes = std::vector<uint8_t>;

inline Bytes WithCrc(Bytes body)
{
    AppendCrc(body);
    return body;
}

inline Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

inline void Feed(const Bytes& bytes) { cm1ReceiveData(bytes.data(), static_cast<uint16_t>(bytes.size())); }

inline const char* StepName(UpgradeStep step)
{
    switch (step) {
    case UpgradeStep::DeviceRebooting: return "rebooting";
    case UpgradeStep::Erase: return "erase";
    case UpgradeStep::FirstWrite: return "first";
    case UpgradeStep::NextWrite: return "next";
    case UpgradeStep::WriteError: return "error";
    case UpgradeStep::WaitingForCheck: return "check";
    }
    return "?";
}

// A TestApp whose hooks append what they are given to `log`: telemetry with
// the frame's hex, the steps by name, every message box as "msg:<text>".
class LinkTest : public ::testing::Test {
protected:
    LinkTest()
    {
        SlaveAddr = 0x06;
        MY_COM.RxState = 1; // as after the first request; zero ignores every byte
        Hooks.telemetry = [this] { log.push_back("telemetry " + BytesToHex(MY_COM.RxBuf.data(), MY_COM.RxLen)); };
        Hooks.deviceInfo = [this] { log.push_back("deviceInfo"); };
        Hooks.reReadDeviceInfo = [this] { log.push_back("reRead"); };
        Hooks.upgradeStep = [this](UpgradeStep s) { log.push_back(std::string("step ") + StepName(s)); };
        app.host.onMessage = [this](const QString& m) { log.push_back("msg:" + m.toStdString()); };
    }

    QStringList Memo() const { return app.host.memos.value(QStringLiteral("mmo1")); }

    TestApp app;
    std::vector<std::string> log;
};

} // namespace bms::test
