// The Bus tab against a rack of sixteen virtual packs: a row per pack whose
// values are that pack's own, a pack that falls silent greyed (never gone)
// and back, the whole rack on a 1366 x 768 screen, and a double-click that
// hands the pack to Data Collection's designed selectors with the port open.
#include "BusTab.h"
#include "CommRecord.h"
#include "MainForm.h"
#include "QuickPack.h"
#include "VirtualBus.h"
#include "WindowFixture.h"
#include "ui_MainForm.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

using namespace bms;
using namespace bms::test;

class BusTabTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void aReadingRepaintsItsRowAndTheHighlightThatMoved()
    {
        bustab::RackModel model;
        bus::ScanResult scan;
        for (int a : {1, 2, 3})
            scan.packs.push_back({a, {}, QStringLiteral("S%1").arg(a), {}, {}, {}});
        model.setScan(scan);
        auto read = [&model](int address, int rsoc) {
            bus::PackReading r;
            r.address = address;
            r.answered = true;
            r.rsoc = rsoc;
            model.setReading(r);
        };
        read(1, 500);
        read(2, 600);
        read(3, 700);
        QVERIFY(model.index(0, bustab::RackModel::Soc).data(Qt::BackgroundRole).isValid());
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        read(3, 100); // now the lowest: the first pack's highlight goes
        QVERIFY(!model.index(0, bustab::RackModel::Soc).data(Qt::BackgroundRole).isValid());
        QVERIFY(model.index(2, bustab::RackModel::Soc).data(Qt::BackgroundRole).isValid());
        auto told = [&changed](int row, int column) {
            for (const QList<QVariant>& args : changed) {
                const QModelIndex from = args[0].toModelIndex(), to = args[1].toModelIndex();
                if (from.row() <= row && row <= to.row() && from.column() <= column && column <= to.column())
                    return true;
            }
            return false;
        };
        QVERIFY(told(2, bustab::RackModel::Serial));
        QVERIFY(told(0, bustab::RackModel::Soc));
        QVERIFY(!told(1, bustab::RackModel::Soc));
    }

    void wholeRackAtAGlanceThenOnePackInDataCollection()
    {
        qputenv("QUORLEX_BMS_CLI", BMS_CLI);
        sim::VirtualBus rack(sim::RackConfigs(16, QuickPack()), QuickPack());
        sim::ApplyRackTraits(rack, 16);
        const QString port = QString::fromStdString(rack.start());
        WindowFixture f;
        f.window->resize(1366, 768);
        auto* tab = f.window->busTab();
        f.form().pgc1->setCurrentWidget(tab);
        tab->findChildren<QComboBox*>().value(0)->setEditText(port);
        tab->toggleWatch();
        bustab::RackModel& model = tab->model();
        auto allAnswering = [&] {
            if (model.rowCount() != 16)
                return false;
            for (int row = 0; row < 16; ++row)
                if (!model.answering(row))
                    return false;
            return true;
        };
        QTRY_VERIFY2_WITH_TIMEOUT(allAnswering(), qPrintable(tab->findChildren<QLabel*>().value(0)->text() + " / " + QString::number(model.rowCount())), 30000);
        // Each row is its pack's own: SOC and cycles as the pack holds them.
        for (int row = 0; row < 16; ++row) {
            sim::VirtualPack& pack = *rack.packs(uint8_t(model.address(row))).front();
            QCOMPARE(model.index(row, bustab::RackModel::Soc).data(Qt::UserRole).toDouble(), pack.reg(0x0018) / 10.0);
            QCOMPARE(model.index(row, bustab::RackModel::Cycles).data().toString(), QString::number(pack.reg(0x001B)));
        }
        // The nearly empty pack's SOC is the one out of line; the alarm pack's chip names its bit.
        const int low = model.rowOf(3);
        QVERIFY(model.index(low, bustab::RackModel::Soc).data(Qt::BackgroundRole).isValid());
        QVERIFY(model.index(model.rowOf(5), bustab::RackModel::Alarm).data(Qt::ToolTipRole).toString().contains("DHT_Alarm"));
        // The whole rack fits the screen: sixteen rows without scrolling.
        QVERIFY(f.window->width() <= 1366 && f.window->height() <= 768);
        QTRY_VERIFY(tab->table()->verticalScrollBar()->maximum() == 0);

        // A silent pack turns grey with the time it was last seen, and comes back.
        rack.packs(4).front()->setSilent(-1);
        QTRY_VERIFY_WITH_TIMEOUT(!model.answering(model.rowOf(4)), 15000);
        QCOMPARE(model.rowCount(), 16);
        QVERIFY(model.index(model.rowOf(4), bustab::RackModel::LastAnswer).data().toString().startsWith("last seen"));
        // Cut in the table's width, it is whole in the tooltip; the columns,
        // fitted again each second, still need no scrolling.
        QVERIFY(model.index(model.rowOf(4), bustab::RackModel::LastAnswer).data(Qt::ToolTipRole).toString().endsWith(" ago)"));
        QTest::qWait(1200);
        QCOMPARE(tab->table()->horizontalScrollBar()->maximum(), 0);
        rack.packs(4).front()->setSilent(0);
        QTRY_VERIFY_WITH_TIMEOUT(model.answering(model.rowOf(4)), 15000);

        // A double-click: the watch stops, Data Collection shows the pack's
        // address in its selector and opens the port.
        const QModelIndex cell = tab->table()->model()->index(6, 1);
        const QRect rect = tab->table()->visualRect(cell);
        const int address = model.address(6);
        QTest::mouseClick(tab->table()->viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseDClick(tab->table()->viewport(), Qt::LeftButton, {}, rect.center());
        QCOMPARE(f.form().pgc1->currentIndex(), 0);
        QCOMPARE(f.form().cbb_addr->currentText(), QStringLiteral("%1").arg(address, 2, 16, QLatin1Char('0')).toUpper());
        QTRY_VERIFY_WITH_TIMEOUT(!tab->watch().running(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(int(PortOpen), 1, 5000);
        QCOMPARE(int(SlaveAddr), address);
    }
};

QTEST_MAIN(BusTabTest)
#include "tst_window_bus.moc"
