// The port list from a fake /sys/class/tty and a fake runtime folder, and the
// watch that notices ports coming and going.
#include "PortList.h"
#include "PortWatch.h"
#include "QtTestSupport.h"

#include <QElapsedTimer>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace bms::test {
namespace {

const auto* const kQtEnv = ::testing::AddGlobalTestEnvironment(new QtEnvironment<>);

class PortListTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root.isValid());
        sources.sysfsTtyDir = root.filePath(QStringLiteral("sys"));
        sources.devDir = QStringLiteral("/dev");
        sources.runtimeDir = root.filePath(QStringLiteral("run"));
    }

    // A sysfs entry; with a device link unless `virtualTty`, with a type
    // attribute when `type` is not empty.
    void AddTty(const QString& name, bool virtualTty = false, const QByteArray& type = {})
    {
        const QString dir = sources.sysfsTtyDir + QLatin1Char('/') + name;
        ASSERT_TRUE(QDir().mkpath(dir));
        if (!virtualTty) {
            ASSERT_TRUE(QFile::link(root.path(), dir + QStringLiteral("/device")));
        }
        if (!type.isEmpty()) {
            QFile f(dir + QStringLiteral("/type"));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(type + '\n');
        }
    }

    void AddRuntimeLink(const QString& name, const QString& target)
    {
        ASSERT_TRUE(QDir().mkpath(sources.runtimeDir));
        ASSERT_TRUE(QFile::link(target, sources.runtimeDir + QLatin1Char('/') + name));
    }

    QTemporaryDir root;
    PortListSources sources;
};

TEST_F(PortListTest, devicesAndLiveRuntimeLinksAreListedSortedCaseInsensitively)
{
    AddTty(QStringLiteral("ttyS3"), false, "4");
    AddTty(QStringLiteral("ttyS10"), false, "4");
    AddTty(QStringLiteral("ttyS1"), false, "0"); // placeholder without a UART
    AddTty(QStringLiteral("ttyUSB0"));
    AddTty(QStringLiteral("ttyACM0"));
    AddTty(QStringLiteral("tty0"), true);        // virtual console
    AddRuntimeLink(QStringLiteral("Pack2"), QStringLiteral("/dev/null"));
    AddRuntimeLink(QStringLiteral("pack10"), QStringLiteral("/dev/null"));
    AddRuntimeLink(QStringLiteral("gone"), root.filePath(QStringLiteral("no-such-pty")));

    const QString run = sources.runtimeDir;
    const QStringList expected {
        QStringLiteral("/dev/ttyACM0"), QStringLiteral("/dev/ttyS10"), QStringLiteral("/dev/ttyS3"),
        QStringLiteral("/dev/ttyUSB0"), run + QStringLiteral("/pack10"), run + QStringLiteral("/Pack2"),
    };
    EXPECT_EQ(ListSerialPorts(sources), expected);

    QStringList box { QStringLiteral("old") };
    EXPECT_TRUE(FillPortList(box, sources));
    EXPECT_EQ(box, expected);
}

TEST_F(PortListTest, unreadableSourcesLeaveTheBoxUntouched)
{
    QStringList box { QStringLiteral("/dev/ttyUSB3") };
    EXPECT_FALSE(FillPortList(box, sources));
    EXPECT_EQ(box, QStringList { QStringLiteral("/dev/ttyUSB3") });
    EXPECT_TRUE(ListSerialPorts(sources).isEmpty());

    // A readable system list without ports empties the box.
    ASSERT_TRUE(QDir().mkpath(sources.sysfsTtyDir));
    EXPECT_TRUE(FillPortList(box, sources));
    EXPECT_TRUE(box.isEmpty());
}

TEST_F(PortListTest, watchNoticesDevicesAndARuntimeFolderMadeLater)
{
    sources.devDir = root.filePath(QStringLiteral("dev"));
    ASSERT_TRUE(QDir().mkpath(sources.devDir));
    PortWatcher watch(nullptr, sources);
    int calls = 0;
    watch.changed = [&calls] { ++calls; };

    // A device node appears; then the runtime folder is made and a pack's
    // link appears in it. Each is reported within a second.
    const std::function<void()> steps[] = {
        [&] { (void)QFile(sources.devDir + QStringLiteral("/ttyUSB0")).open(QIODevice::WriteOnly); },
        [&] { (void)QDir().mkpath(sources.runtimeDir); },
        [&] { AddRuntimeLink(QStringLiteral("pack"), QStringLiteral("/dev/null")); },
    };
    for (const auto& step : steps) {
        const int before = calls;
        QElapsedTimer clock;
        clock.start();
        step();
        ASSERT_TRUE(WaitUntil([&] { return calls > before; }, 3000));
        EXPECT_LT(clock.elapsed(), 1000);
    }

    // A folder that never stops changing still gets its refresh in time.
    const int before = calls;
    for (int i = 0; i < 20 && calls == before; ++i) {
        (void)QFile(sources.devDir + QStringLiteral("/churn%1").arg(i)).open(QIODevice::WriteOnly);
        WaitUntil([] { return false; }, 50);
    }
    EXPECT_GT(calls, before);
}

} // namespace
} // namespace bms::test
