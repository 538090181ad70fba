// Helpers of the upgrade tests: a QCoreApplication for timers and waits,
// image files written to a temporary folder, and the wiring of the upgrade
// run into a TestApp.
#pragma once

#include "Image.h"
#include "UpgradeHooks.h"
#include "UpgradeRun.h"
#include "FakeHost.h"
#include "IntelHex.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <map>
#include <memory>

namespace bms::test {

// An image of `dataRecords` data records of `length` bytes behind an
// extended-address record, closed by the end record; lines end in CR LF.
inline QByteArray MakeImage(int dataRecords, int length = 16)
{
    QByteArray image = HexRecord(0, 4, QByteArray::fromHex("0800")) + "\r\n";
    for (int i = 0; i < dataRecords; ++i) {
        QByteArray data;
        for (int j = 0; j < length; ++j)
            data.append(static_cast<char>(i * 7 + j));
        image += HexRecord(static_cast<uint16_t>(i * length), 0, data) + "\r\n";
    }
    return image + ":00000001FF\r\n";
}

// One QCoreApplication for the whole test program.
inline QCoreApplication& QtApp()
{
    static int argc = 1;
    static char name[] = "tst_upgrade";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Writes `content` to `name` in a temporary folder and returns the path.
class ImageFiles {
public:
    QString write(const QString& name, const QByteArray& content)
    {
        const QString path = dir_.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
        return path;
    }
    QString path(const QString& name) const { return dir_.filePath(name); }

private:
    QTemporaryDir dir_;
};

// A TestApp with the upgrade run wired in the way the window wires it: the
// watchdog, the step hook, the sampling stop and the progress bar.
class UpgradeApp : public TestApp {
public:
    UpgradeApp()
    {
        QtApp();
        ResetUpgradeRun();
        UpgradeHooks = UpgradeHooksT{};
        tmr4.OnTimer = [] { tmr4Timer(); };
        Hooks.upgradeStep = [](UpgradeStep step) { RunUpgradeStep(step); };
        UpgradeHooks.stopSampling = [this] {
            ++samplingStops;
            Sampling = 0;
            tmr1.setEnabled(false);
        };
        UpgradeHooks.setProgress = [this](const QString& control, int value, int maximum) {
            progress[control] = {value, maximum};
        };
        SlaveAddr = 0x06;
        PortOpen = 1; // an upgrade needs the port open
        // The package number box holds "1" in the form.
        host.setText(QStringLiteral("edt_firmware_packpag"), QStringLiteral("1"));
    }
    ~UpgradeApp()
    {
        ResetUpgradeRun();
        UpgradeHooks = UpgradeHooksT{};
    }
    // The controls an upgrade run takes from the operator.
    bool runControlsEnabled() const
    {
        for (const char* name : {"opbtn", "upbtn", "edt6"})
            if (!host.isEnabled(QLatin1String(name)))
                return false;
        return true;
    }
    bool targetButtonsEnabled() const
    {
        return host.isEnabled(QStringLiteral("rbtn_upgrade_main_board")) && host.isEnabled(QStringLiteral("rbtn_upgrade_wifi"));
    }

    int samplingStops = 0;
    std::map<QString, std::pair<int, int>> progress;
};

} // namespace bms::test
