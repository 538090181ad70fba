// The Traffic window: opened from the status bar, it lists the request and
// the answer of a read against the virtual pack; the list keeps the newest
// 100,000 frames; "Errors only" shows only the frames that went wrong.
#include "WindowFixture.h"

#include "Codec.h"
#include "FrameRecord.h"
#include "TrafficWindow.h"
#include "VirtualPack.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

using bms::FrameDir;
using bms::FrameEvent;
using bms::FrameKind;
using bms::TrafficModel;
using bms::test::WindowFixture;

namespace {

FrameEvent Event(FrameDir dir, FrameKind kind, std::vector<uint8_t> bytes)
{
    FrameEvent e;
    e.time = QDateTime::currentDateTime();
    e.dir = dir;
    e.kind = kind;
    e.bytes = std::move(bytes);
    return e;
}

} // namespace

class TrafficWindowTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void listsTheRequestAndTheAnswerOfARead()
    {
        bms::sim::PackConfig config;
        config.publish = false;
        config.live = false;
        bms::sim::VirtualPack pack(config);
        const QString port = QString::fromStdString(pack.start());
        WindowFixture f;
        f.setComboText("cbb1", port);
        f.click("opencom");
        f.click("btn_traffic");
        auto* traffic = f.window->findChild<bms::TrafficWindow*>(QStringLiteral("trafficWindow"));
        QVERIFY(traffic);
        QVERIFY(traffic->isVisible());

        f.click("btn3"); // Read Info
        TrafficModel& model = traffic->model();
        QTRY_VERIFY_WITH_TIMEOUT(model.rowCount() >= 2, 5000);
        auto cell = [&](int row, int col) { return model.index(row, col).data().toString(); };
        QCOMPARE(cell(0, TrafficModel::DirCol), QStringLiteral("TX"));
        QCOMPARE(cell(0, TrafficModel::MeaningCol), QStringLiteral("read 9D01 x38"));
        QVERIFY(cell(0, TrafficModel::BytesCol).startsWith(QStringLiteral("06 04 9D 01 00 26 ")));
        QCOMPARE(cell(1, TrafficModel::DirCol), QStringLiteral("RX"));
        QCOMPARE(cell(1, TrafficModel::LengthCol), QStringLiteral("81"));
        QCOMPARE(cell(1, TrafficModel::CrcCol), QStringLiteral("good"));
        QCOMPARE(cell(1, TrafficModel::MeaningCol), QStringLiteral("read answer, 76 bytes"));
        QVERIFY(cell(1, TrafficModel::SinceCol).endsWith(QStringLiteral(" ms")));

        // Closed, it stops listening.
        traffic->close();
        QVERIFY(!bms::FrameObserversActive());
    }

    void keepsTheNewest100000Frames()
    {
        TrafficModel model;
        QCOMPARE(model.limit(), 100000);
        for (int batch = 0; batch < 2; ++batch) {
            for (int i = 0; i < 60000; ++i) {
                const auto n = static_cast<uint32_t>(batch * 60000 + i);
                model.add(Event(FrameDir::Rx, FrameKind::Frame, {uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)}));
            }
            model.flush();
        }
        QCOMPARE(model.rowCount(), 100000);
        // Frames 20000 .. 119999 remain, oldest first.
        QCOMPARE(model.index(0, TrafficModel::BytesCol).data().toString(), QStringLiteral("00 4E 20"));
        QCOMPARE(model.index(99999, TrafficModel::BytesCol).data().toString(), QStringLiteral("01 D4 BF"));
    }

    void errorsOnlyShowsOnlyTheFramesThatWentWrong()
    {
        bms::TrafficWindow window;
        TrafficModel& model = window.model();
        const std::vector<uint8_t> good = {0x06, 0x04, 0x02, 0x00, 0x64, 0x0D, 0x1B};
        std::vector<uint8_t> refused = {0x06, 0x84, 0x02};
        bms::AppendCrc(refused);
        model.add(Event(FrameDir::Tx, FrameKind::Frame, {0x06, 0x04, 0x00, 0x0A, 0x00, 0x1E, 0x51, 0xB7}));
        model.add(Event(FrameDir::Rx, FrameKind::Noise, {0x00, 0xFF}));
        model.add(Event(FrameDir::Rx, FrameKind::Frame, good));
        model.add(Event(FrameDir::Rx, FrameKind::BadCrc, {0x06, 0x04, 0x02, 0x00, 0x64, 0x0D, 0x1C}));
        model.add(Event(FrameDir::Rx, FrameKind::Fragment, {0x06, 0x03}));
        model.add(Event(FrameDir::Rx, FrameKind::Frame, refused));
        model.flush();

        auto* view = window.findChild<QTreeView*>(QStringLiteral("trafficView"));
        window.findChild<QCheckBox*>(QStringLiteral("trafficErrorsOnly"))->setChecked(true);
        QStringList shown;
        for (int row = 0; row < view->model()->rowCount(); ++row)
            shown.append(view->model()->index(row, TrafficModel::MeaningCol).data().toString());
        QCOMPARE(shown, (QStringList{QStringLiteral("noise, 2 bytes skipped"),
                                     QStringLiteral("read answer, 2 bytes, CRC error"),
                                     QStringLiteral("fragment, 2 bytes abandoned"),
                                     QStringLiteral("read refused, exception code 02 (illegal data address)")}));
        window.findChild<QCheckBox*>(QStringLiteral("trafficErrorsOnly"))->setChecked(false);
        QCOMPARE(view->model()->rowCount(), 6);

        // Saving writes every frame, those waiting behind a pause as well.
        model.setPaused(true);
        model.add(Event(FrameDir::Tx, FrameKind::Frame, {0x06, 0x04, 0x00, 0x80, 0x00, 0x04, 0xF1, 0x96}));
        model.flush();
        QCOMPARE(model.rowCount(), 6);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("traffic.txt"));
        QString error;
        QVERIFY2(window.saveTo(path, &error), qPrintable(error));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
        QCOMPARE(lines.size(), 1 + 7);
        QVERIFY(lines.last().contains("06 04 00 80 00 04 F1 96"));
        QVERIFY(!window.saveTo(dir.filePath(QStringLiteral("no/such/folder/t.txt")), &error));
    }

    void pausedListKeepsCountingAndUntickingErrorsOnlyKeepsFollowing()
    {
        bms::TrafficWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        TrafficModel& model = window.model();
        auto* view = window.findChild<QTreeView*>(QStringLiteral("trafficView"));
        auto* errorsOnly = window.findChild<QCheckBox*>(QStringLiteral("trafficErrorsOnly"));
        auto* count = window.findChild<QLabel*>(QStringLiteral("trafficCount"));
        const auto addFrames = [&model](int frames) {
            for (int i = 0; i < frames; ++i) {
                const FrameKind kind = i % 10 == 0 ? FrameKind::BadCrc : FrameKind::Frame;
                model.add(Event(FrameDir::Rx, kind, {0x06, 0x04, 0x02, uint8_t(i >> 8), uint8_t(i)}));
            }
        };
        const auto atEnd = [view] { return view->verticalScrollBar()->value() == view->verticalScrollBar()->maximum(); };

        addFrames(300);
        QTRY_COMPARE(count->text(), QStringLiteral("300 frames"));
        QVERIFY(view->verticalScrollBar()->maximum() > 0);
        QVERIFY(atEnd());
        // Ticked and unticked again at the end of the list: new frames are
        // still followed.
        errorsOnly->setChecked(true);
        QTRY_COMPARE(view->verticalScrollBar()->maximum(), 0); // the 30 errors fit
        errorsOnly->setChecked(false);
        QTRY_VERIFY(view->verticalScrollBar()->maximum() > 0);
        QVERIFY(atEnd());
        addFrames(50);
        QTRY_COMPARE(count->text(), QStringLiteral("350 frames"));
        QTRY_VERIFY(atEnd());

        // Paused: the rows stand still, the count goes on.
        window.findChild<QPushButton*>(QStringLiteral("trafficPause"))->click();
        addFrames(3);
        QTRY_COMPARE(count->text(), QStringLiteral("350 frames, 3 waiting"));
        addFrames(2);
        QTRY_COMPARE(count->text(), QStringLiteral("350 frames, 5 waiting"));
        QCOMPARE(model.rowCount(), 350);
    }
};

QTEST_MAIN(TrafficWindowTest)
#include "tst_window_traffic.moc"
