// The window on a 1366 x 768 laptop screen: every tab fits, nothing moves
// when texts change, value columns grow to their texts, the memo follows
// its newest line, long handlers show that they are working.
#include "MiddleElide.h"
#include "WindowFixture.h"

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>

using bms::test::WindowFixture;

namespace {

// Every visible widget's place in the window.
QMap<QString, QRect> Places(QWidget* window)
{
    QMap<QString, QRect> places;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->objectName().isEmpty() && w->isVisible())
            places.insert(w->objectName(), QRect(w->mapTo(window, QPoint(0, 0)), w->size()));
    }
    return places;
}

void Settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

} // namespace

class WindowLayoutTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everyTabFitsALaptopScreen()
    {
        WindowFixture f;
        auto* tabs = f.find<QTabWidget>("pgc1");
        for (int i = 0; i < tabs->count(); ++i) {
            tabs->setCurrentIndex(i);
            const QSize minimum = f.window->minimumSizeHint().expandedTo(f.window->minimumSize());
            QVERIFY2(minimum.width() <= 1360 && minimum.height() <= 700,
                     qPrintable(QStringLiteral("%1: %2x%3").arg(tabs->tabText(i)).arg(minimum.width()).arg(minimum.height())));
        }
    }

    void startsWithinTheScreen()
    {
        WindowFixture f;
        const QSize designed = f.window->size();
        const QSize smallest = f.window->minimumSizeHint().expandedTo(f.window->minimumSize());
        // A laptop screen takes off height; a large one leaves the designed
        // size; a screen below the smallest size gets the smallest size.
        const std::pair<QSize, QSize> cases[] = {
            {{1366, 768}, {designed.width(), 768}},
            {{1920, 1080}, designed},
            {{800, 600}, smallest},
        };
        for (const auto& [screen, bound] : cases) {
            f.window->resize(designed);
            f.window->fitToScreen(QRect(QPoint(0, 0), screen));
            const QSize got = f.window->size();
            QVERIFY2(got.width() <= bound.width() && got.height() <= bound.height() && got.width() >= smallest.width()
                         && got.height() >= smallest.height(),
                     qPrintable(QStringLiteral("%1x%2 on %3x%4").arg(got.width()).arg(got.height()).arg(screen.width()).arg(screen.height())));
            if (screen.height() < designed.height() && screen.height() > smallest.height())
                QVERIFY(got.height() < screen.height()); // room for a title bar
            if (bound == designed)
                QCOMPARE(got, designed);
        }
    }

    void nothingMovesWhenTextsChange()
    {
        WindowFixture f;
        f.window->resize(1366, 740);
        auto* tabs = f.find<QTabWidget>("pgc1");
        // The texts the tool writes while it runs, at their widest.
        const std::pair<int, std::vector<std::pair<const char*, const char*>>> changes[] = {
            {0, {{"opencom", "Close Port"}, {"cybtn", "Close Sampling"}, {"lbl30", "Discharging..."},
                 {"lbl33", "Charge MOS:off"}, {"lbl34", "Discharge MOS:off"}, {"lbl_addr_read", "Addr: DD"},
                 {"lbl_uid_crc", "DDDD"}, {"lbl10", "bms status 0:DDDD"}, {"lbl_currentRev", "fault status 3:8888"}}},
            {1, {{"lblc", "Current:-2147483648"}, {"lblv1", " Cell 1 Voltage:65535 mV"},
                 {"lbl_rtc", "RTC Time: 2026-12-30 23:59:59 Wed -128"}, {"lbl_protocol_type", "Protocol Type: 255"},
                 {"lbl_sleep_time", "Sleep Time: 65535 X 65535 S"}, {"lbl_sp_reset", "None"}}},
        };
        for (const auto& [tab, texts] : changes) {
            tabs->setCurrentIndex(tab);
            Settle();
            const QMap<QString, QRect> before = Places(f.window.get());
            for (const auto& [control, text] : texts)
                f.host().setText(QString::fromLatin1(control), QString::fromUtf8(text));
            f.host().setPanel(0, QStringLiteral("Connected to the communication box!"));
            f.host().setBusy(QStringLiteral("Series-Parallel Setting: address 16 of 16..."));
            Settle();
            const QMap<QString, QRect> after = Places(f.window.get());
            f.host().setBusy(QString());
            for (auto it = before.cbegin(); it != before.cend(); ++it)
                QVERIFY2(after.value(it.key()) == it.value(), qPrintable(it.key()));
        }
    }

    void valueColumnsGrowToTheirLongestText()
    {
        WindowFixture f;
        auto* grid = f.find<QTableWidget>("strngrd1");
        const QRect place = grid->geometry();
        f.host().setCell(QStringLiteral("strngrd1"), 7, 3, QStringLiteral("4294967295mAH"));
        const int needed = grid->fontMetrics().horizontalAdvance(QStringLiteral("4294967295mAH"));
        QVERIFY(grid->columnWidth(7) > needed);
        QCOMPARE(grid->columnWidth(5), 80); // a value column with short texts keeps its width
        // A shorter text later leaves the column as wide; the grid stays put.
        const int grown = grid->columnWidth(7);
        f.host().setCell(QStringLiteral("strngrd1"), 7, 3, QStringLiteral("0mAH"));
        QCOMPARE(grid->columnWidth(7), grown);
        Settle();
        QCOMPARE(grid->geometry(), place);
        // In the smallest window every column with content is still whole.
        f.host().setCell(QStringLiteral("strngrd1"), 7, 2, QStringLiteral("-2147483648mA"));
        f.window->resize(f.window->minimumSizeHint());
        Settle();
        QVERIFY(grid->columnViewportPosition(7) + grid->columnWidth(7) <= grid->viewport()->width());
    }

    void memoFollowsNewLinesUnlessScrolledUp()
    {
        WindowFixture f;
        f.window->resize(1366, 740);
        auto* memo = f.find<QPlainTextEdit>("mmo1");
        auto* tabs = f.find<QTabWidget>("pgc1");
        QScrollBar* bar = memo->verticalScrollBar();
        auto addLines = [&f](int count) {
            for (int i = 0; i < count; ++i)
                f.host().appendLine(QStringLiteral("mmo1"), QStringLiteral("communication timeout!(12:00:%1)").arg(i % 60));
        };
        // Lines added while another tab is in front are in view on return.
        tabs->setCurrentIndex(1);
        addLines(200);
        tabs->setCurrentIndex(0);
        Settle();
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->maximum());

        // Scrolled up by the operator: it stays there while lines come in.
        bar->triggerAction(QAbstractSlider::SliderPageStepSub);
        Settle();
        const int reading = bar->value();
        QVERIFY(reading < bar->maximum());
        addLines(5);
        Settle();
        QCOMPARE(bar->value(), reading);
        // Back at the end: it follows again.
        bar->triggerAction(QAbstractSlider::SliderToMaximum);
        Settle();
        addLines(5);
        Settle();
        QCOMPARE(bar->value(), bar->maximum());
    }

    void longPortPathsKeepTheirDeviceNameInView()
    {
        const QFontMetrics metrics(QApplication::font());
        const QString path = QStringLiteral("/run/user/1000/quorlex-bms/virtual-pack-demo");
        const int name = metrics.horizontalAdvance(QStringLiteral("/virtual-pack-demo"));
        QCOMPARE(bms::ElidePath(path, metrics, metrics.horizontalAdvance(path)), path);
        const QString shown = bms::ElidePath(path, metrics, name + metrics.horizontalAdvance(QStringLiteral("/run/u\u2026")));
        QVERIFY2(shown.startsWith(QStringLiteral("/r")) && shown.contains(QChar(0x2026))
                     && shown.endsWith(QStringLiteral("/virtual-pack-demo")),
                 qPrintable(shown));
        // Too narrow even for the name: the middle of the whole text goes.
        const QString narrow = bms::ElidePath(path, metrics, name / 2);
        QVERIFY2(narrow.contains(QChar(0x2026)) && !narrow.endsWith(QStringLiteral("/virtual-pack-demo")), qPrintable(narrow));
    }

    void longHandlersShowABusyCursorAndText()
    {
        WindowFixture f;
        auto* busy = f.find<QLabel>("stat1_busy");
        QVERIFY(busy);
        // A handler still running after a second (waiting with events going on).
        f.host().handlerStarted(QStringLiteral("setting"));
        QTRY_COMPARE_WITH_TIMEOUT(busy->text(), QStringLiteral("Working: setting..."), 3000);
        QVERIFY(QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor);
        // A message box meanwhile is answered with the normal cursor.
        const QCursor* whileAsking = reinterpret_cast<const QCursor*>(1);
        f.window->host().messageHook = [&whileAsking](const bms::MessageBoxInfo&) {
            whileAsking = QApplication::overrideCursor();
            return true;
        };
        f.host().showMessage(QStringLiteral("Series-Parallel Setting completed!"));
        QCOMPARE(whileAsking, nullptr);
        QVERIFY(QApplication::overrideCursor());
        f.host().handlerEnded();
        QCOMPARE(busy->text(), QString());
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }
};

QTEST_MAIN(WindowLayoutTest)
#include "tst_window_layout.moc"
