// The Station tab on the operator's screen, through the real window
// offscreen: eight fixtures with their longest texts keep the window at
// 1366 x 768; the texts that are shortened keep their count and verdict,
// the whole text in their tooltips; the keys go where the operator expects
// (a question's value box, a scanner typing while another box has the
// focus). The fixtures' runs are told to their panels as event lines, so
// no pack is needed.
#include "WindowFixture.h"
#include "RecordSamples.h"

#include "FixturePanel.h"
#include "FixtureRunner.h"
#include "HistoryPage.h"
#include "SettingsPage.h"
#include "StationRecords.h"
#include "StationTab.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using bms::test::WindowFixture;
using namespace bms::stationtab;

namespace {

QJsonObject Json(const QString& text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

// A station of `fixtures` fixtures whose recipe is a copy of the example's
// in a folder with a long name; the records in the test's own folder.
struct Screen {
    explicit Screen(int fixtures, const QString& lineDb = {})
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("data"))));
        const QString ini = dir.filePath(QStringLiteral("station.ini"));
        qputenv("QUORLEX_BMS_STATION_CONFIG", QFile::encodeName(ini));
        const QString folder = dir.filePath(QStringLiteral("recipes-of-the-end-of-line-station-in-hall-3/version-2026-12"));
        QDir().mkpath(folder);
        recipe = folder + QStringLiteral("/virtual-pack-eol.toml");
        for (const char* file : {"virtual-pack-eol.toml", "virtual-pack-fw-1.5.4.hex"})
            QFile::copy(QStringLiteral(STATION_RECIPES "/") + QLatin1String(file), folder + QLatin1Char('/') + QLatin1String(file));
        StationConfig config;
        config.recipe = recipe;
        config.stationId = QStringLiteral("EOL-T");
        config.lineDb = lineDb;
        // Ports with the long names of their USB boxes, there as files.
        QDir().mkpath(dir.filePath(QStringLiteral("serial/by-id")));
        for (int i = 1; i <= fixtures; ++i) {
            config.ports.append(dir.filePath(QStringLiteral("serial/by-id/usb-FTDI_FT232R_USB_UART_A50285B%1-if00-port0").arg(i)));
            QFile(config.ports.last()).open(QIODevice::WriteOnly);
        }
        QString error;
        if (!config.save(ini, error))
            qFatal("%s", qPrintable(error));
        window = std::make_unique<WindowFixture>();
        tab = window->window->stationTab();
        window->form().pgc1->setCurrentWidget(tab);
    }

    // Event lines of fixture `fixture`'s run, shown as its runner shows them.
    void tell(int fixture, const QStringList& events) const
    {
        FixtureRunner* runner = tab->runner(fixture);
        if (!runner->busy())
            runner->model().begin(QStringLiteral("2026120900%1").arg(fixture, 2, 10, QLatin1Char('0')));
        for (const QString& e : events)
            runner->model().event(Json(e));
        Q_EMIT runner->changed();
    }
    QLineEdit* promptBox(int fixture) const { return tab->panel(fixture)->promptBox(); }
    // A line typed as a scanner types it (no pause between the keys) or as
    // a person does.
    static void type(QWidget* box, const QString& line, bool scanner)
    {
        QTest::keyClicks(box, line, Qt::NoModifier, scanner ? -1 : 60);
        QTest::keyClick(box, Qt::Key_Return, Qt::NoModifier, scanner ? -1 : 60);
    }
    QString taken(int fixture) const { return tab->runner(fixture)->model().barcodeTaken(); }
    bool takenAnywhere(const QString& barcode) const
    {
        for (int f = 1; tab->runner(f); ++f)
            if (taken(f) == barcode)
                return true;
        return false;
    }
    QTabWidget* pages() const { return tab->findChild<QTabWidget*>(QStringLiteral("stationPages")); }

    QTemporaryDir dir;
    QString recipe;
    std::unique_ptr<WindowFixture> window;
    StationTab* tab = nullptr;
};

const QString kStart = QStringLiteral(
    R"j({"event":"run_start","run_id":"r1","steps":[{"index":0,"name":"scan","kind":"scan"},)j"
    R"j({"index":1,"name":"calibrate_current_with_the_meter","kind":"calibrate"},{"index":2,"name":"check","kind":"check"}]})j");

const QString kLong = QStringLiteral("Read the current on the meter of the 10 A charger of this fixture and type it in milliamperes, then press Enter; ").repeated(3);

// A run at its worst for the room on its panel: every cell failing and the
// longest notes; `asking`: a question with a long text whose last answer
// was refused at length.
QStringList WorstRun(bool asking)
{
    QStringList events{kStart, QStringLiteral(R"j({"event":"step_start","index":1,"attempt":2})j")};
    for (int cell = 1; cell <= 16; ++cell)
        events << QStringLiteral(R"j({"event":"measurement","step":1,"step_name":"check","name":"cell_%1","value":3050,"unit":"mV","limits":{"low":3200,"high":3400},"outcome":"FAIL"})j")
                      .arg(cell);
    events << QStringLiteral(R"j({"event":"error","message":"%1"})j").arg(kLong);
    if (asking)
        events << QStringLiteral(R"j({"event":"prompt","id":"p1","kind":"value","text":"%1","timeout_s":600})j").arg(kLong)
               << QStringLiteral(R"j({"event":"prompt_refused","id":"p1","reason":"%1"})j").arg(kLong);
    return events;
}

void Settle(int ms = 300)
{
    QTest::qWait(ms);
}

// What a label shows fits into it.
bool Fits(const QLabel* label)
{
    return label->fontMetrics().horizontalAdvance(label->text()) <= label->contentsRect().width();
}

} // namespace

class WindowStationScreenTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Four and eight fixtures at their longest texts (a question open,
    // every cell failing and the longest notes; a run under way; a run that
    // ended without a result and a refused scan after it), a recipe broken
    // at length and its refusal: the window stays 1366 x 768, nothing of it
    // beyond its edges.
    void fixturesWithTheirLongestTextsKeepTheWindowsSize_data()
    {
        QTest::addColumn<int>("fixtures");
        QTest::newRow("4") << 4;
        QTest::newRow("8") << 8;
    }
    void fixturesWithTheirLongestTextsKeepTheWindowsSize()
    {
        QFETCH(int, fixtures);
        Screen s(fixtures);
        s.window->window->resize(1366, 768);
        Settle();
        const QSize before = s.window->window->size();
        QCOMPARE(before, QSize(1366, 768));

        // The recipe is broken while the window runs; the next scan says so.
        QFile recipe(s.recipe);
        QVERIFY(recipe.open(QIODevice::WriteOnly | QIODevice::Truncate));
        recipe.write("name = \"virtual-pack-eol\"\nversion = \"1\"\nsteps = " + QByteArray(400, '[') + "\n");
        recipe.close();
        s.tab->scan(QStringLiteral("202612090099"));
        for (int f = 1; f <= fixtures; ++f) {
            s.tell(f, WorstRun(f % 4 != 2 && f % 4 != 3));
            if (f % 4 == 3) {
                s.tab->runner(f)->model().ended({9, true, kLong});
                s.tab->runner(f)->model().refuse(kLong);
                Q_EMIT s.tab->runner(f)->changed();
            }
        }
        Settle();

        QCOMPARE(s.window->window->size(), before);
        // Room for a title bar on the laptop's screen.
        const QSize smallest = s.window->window->minimumSizeHint();
        QVERIFY2(smallest.width() <= 1366 && smallest.height() <= 700,
                 qPrintable(QStringLiteral("%1x%2").arg(smallest.width()).arg(smallest.height())));
        const QRect inside = s.window->window->rect();
        for (QWidget* w : {static_cast<QWidget*>(s.tab->panel(fixtures)),
                           static_cast<QWidget*>(s.window->window->statusBar())}) {
            const QRect place(w->mapTo(s.window->window.get(), QPoint(0, 0)), w->size());
            QVERIFY2(inside.contains(place), qPrintable(w->objectName()));
        }
        // Every question shows with its value box at its full height.
        for (int f = 1; f <= fixtures; ++f)
            if (f % 4 == 1 || f % 4 == 0)
                QVERIFY2(s.promptBox(f)->isVisible() && s.promptBox(f)->height() >= s.promptBox(f)->sizeHint().height(),
                         qPrintable(QString::number(f)));

        // The recipe's error and the refusal keep their beginnings, their
        // long path shortened; the whole texts in the tooltips.
        auto* recipeLabel = s.tab->findChild<QLabel*>(QStringLiteral("stationRecipeLabel"));
        QVERIFY2(Fits(recipeLabel) && recipeLabel->text().startsWith(QStringLiteral("The recipe cannot be used: ")),
                 qPrintable(recipeLabel->text()));
        QVERIFY2(recipeLabel->toolTip().startsWith(QStringLiteral("The recipe cannot be used: ") + s.recipe), qPrintable(recipeLabel->toolTip()));
    }

    // Texts too long for their place keep what the operator reads them
    // for: the count of runs waiting for the line database before the
    // server's error, a refusal's verdict after a long port path or a
    // scanner's run-away barcode. The whole text is the tooltip.
    void shortenedTextsKeepTheirCountAndVerdict()
    {
        const QString line = QStringLiteral("postgresql://line:Pw1@/q?host=/nonexistent/socket-folder-of-the-line-database-server-in-hall-3");
        Screen s(1, line);
        {
            // Three runs wait for the line, which does not answer.
            bms::records::RecordsConfig config;
            config.lineUrl = line;
            QString error;
            auto records = bms::records::StationRecords::open(config, error);
            QVERIFY2(records, qPrintable(error));
            for (int run = 1; run <= 3; ++run) {
                bms::test::SampleRun sample;
                sample.number = run;
                QVERIFY2(records->store(bms::test::SampleRecord(sample), error), qPrintable(error));
            }
        }
        s.tab->windowHoldsPort = [](const QString&) { return true; };
        s.tab->scan(QStringLiteral("202612090001"));
        auto* status = s.tab->findChild<QLabel*>(QStringLiteral("stationScanStatus"));
        QVERIFY2(Fits(status) && status->text().contains(QStringLiteral("is open on the Data Collection tab")), qPrintable(status->text()));
        QCOMPARE(status->toolTip(), s.tab->scanStatusText());
        s.tab->windowHoldsPort = nullptr;
        s.tab->scan(QStringLiteral("2026120900").repeated(9) + QStringLiteral("X"));
        QVERIFY2(Fits(status) && status->text().contains(QStringLiteral("needs 12 digits")), qPrintable(status->text()));

        auto* forwarding = s.tab->findChild<QLabel*>(QStringLiteral("stationForwarding"));
        QTRY_VERIFY_WITH_TIMEOUT(s.tab->forwardingText().startsWith(QStringLiteral("3 runs waiting for the line database (")), 20000);
        QVERIFY2(Fits(forwarding) && forwarding->text().startsWith(QStringLiteral("3 runs waiting for the line database (")),
                 qPrintable(forwarding->text()));
        QCOMPARE(forwarding->toolTip(), s.tab->forwardingText());
    }

    // A question that waits for a value has the keys: a reading typed by
    // hand is its answer, a refused one stays selected to be typed over, and
    // the keys go back to the scan box when it closes. A scanner's line
    // typed into the question's box or the history's search starts its pack
    // as from the scan box and leaves that box as it was; a meter's fast
    // reading, no barcode, stays the answer.
    void keysGoWhereTheOperatorExpects()
    {
        Screen s(3);
        QVERIFY(s.tab->scanBox()->hasFocus());
        s.tell(1, {kStart, QStringLiteral(R"j({"event":"step_start","index":1,"attempt":1})j"),
                   QStringLiteral(R"j({"event":"prompt","id":"p1","kind":"value","text":"Meter reading (mA)","timeout_s":600})j")});
        QLineEdit* box = s.promptBox(1);
        QTRY_VERIFY(box->hasFocus());
        Screen::type(box, QStringLiteral("1OO12"), false);
        s.tell(1, {QStringLiteral(R"j({"event":"prompt_refused","id":"p1","reason":"'1OO12' is not a number"})j")});
        QTRY_COMPARE(box->selectedText(), QStringLiteral("1OO12"));
        QVERIFY(box->hasFocus());
        QCOMPARE(s.taken(2), QString());

        Screen::type(box, QStringLiteral("202612090002"), true);
        QCOMPARE(s.taken(2), QStringLiteral("202612090002"));
        QCOMPARE(box->text(), QStringLiteral("1OO12"));
        QCOMPARE(box->selectedText(), QStringLiteral("1OO12"));
        QVERIFY(box->hasFocus());
        box->clear();
        Screen::type(box, QStringLiteral("10012"), true);
        QCOMPARE(box->text(), QStringLiteral("10012"));

        s.tell(1, {QStringLiteral(R"j({"event":"prompt_closed","id":"p1","how":"answered"})j")});
        QTRY_VERIFY(s.tab->scanBox()->hasFocus());

        // After a search in the history, the next pack is scanned.
        s.pages()->setCurrentWidget(s.tab->history());
        auto* search = s.tab->history()->findChild<QLineEdit*>(QStringLiteral("stationSearch"));
        search->setFocus();
        Screen::type(search, QStringLiteral("QB20"), false);
        Screen::type(search, QStringLiteral("202612090003"), true);
        QVERIFY(s.takenAnywhere(QStringLiteral("202612090003")));
        QCOMPARE(search->text(), QStringLiteral("QB20"));
        QVERIFY(search->hasFocus());
    }

    // The engineer's settings: saving them leaves the last verdict of each
    // fixture that stays (its steps with their outcomes and times, a blank
    // between them); a new password is typed twice and taken only when both
    // agree; locking the page again ends what it said while unlocked.
    void settingsKeepVerdictsAndAskANewPasswordTwice()
    {
        Screen s(2);
        s.tell(1, {kStart, QStringLiteral(R"j({"event":"step_start","index":1,"attempt":1})j"),
                   QStringLiteral(R"j({"event":"step_end","index":1,"outcome":"ABORTED","duration_s":600.2})j"),
                   QStringLiteral(R"j({"event":"run_end","outcome":"ABORTED","failure_code":"calibrate_current_with_the_meter.aborted","record":"/r/r1.json","exit":5})j")});
        s.tab->runner(1)->model().ended({5, false, {}});
        Q_EMIT s.tab->runner(1)->changed();
        QTRY_COMPARE(s.tab->panel(1)->bannerText(), QStringLiteral("ABORTED"));

        auto* settings = static_cast<QWidget*>(s.tab->settings());
        s.pages()->setCurrentWidget(settings);
        settings->findChild<QLineEdit*>(QStringLiteral("stationId"))->setText(QStringLiteral("EOL-9"));
        settings->findChild<QPushButton*>(QStringLiteral("stationSave"))->click();
        QCOMPARE(s.tab->config().stationId, QStringLiteral("EOL-9"));
        QCOMPARE(s.tab->panel(1)->bannerText(), QStringLiteral("ABORTED"));
        auto* steps = s.tab->panel(1)->findChild<QListWidget*>(QStringLiteral("fixtureSteps"));
        QVERIFY2(steps->item(1)->text().endsWith(QStringLiteral(" ABORTED 600.2 s")), qPrintable(steps->item(1)->text()));

        auto* status = settings->findChild<QLabel*>(QStringLiteral("stationSettingsStatus"));
        const auto setPassword = [&](const char* first, const char* again) {
            settings->findChild<QLineEdit*>(QStringLiteral("stationNewPassword"))->setText(QLatin1String(first));
            settings->findChild<QLineEdit*>(QStringLiteral("stationNewPasswordAgain"))->setText(QLatin1String(again));
            settings->findChild<QPushButton*>(QStringLiteral("stationSetPassword"))->click();
        };
        setPassword("eng1", "eng2");
        QVERIFY2(status->text().startsWith(QStringLiteral("The two new passwords differ")), qPrintable(status->text()));
        QVERIFY(!s.tab->config().locked());
        setPassword("eng1", "eng1");
        QVERIFY(s.tab->config().checkPassword(QStringLiteral("eng1")));
        QCOMPARE(status->text(), QStringLiteral("Password set: the settings lock when you leave this page"));
        settings->findChild<QPushButton*>(QStringLiteral("stationUnlock"))->click();
        QCOMPARE(status->text(), QString());
    }
};

QTEST_MAIN(WindowStationScreenTest)
#include "tst_window_station_screen.moc"
