// Labels through a real CUPS server (scripts/cups-test-server, the CTest
// fixture labels_cups): ZPL reaches a socket:// printer byte for byte, a
// layout printed to the cups-pdf queue has its barcodes decoded back from
// the PDF, and a missing queue, a stopped queue and a server stopped while
// a job is on its way are failures in words, after which printing works.
#include "CupsJobs.h"
#include "LabelJob.h"
#include "SocketPrinter.h"
#include "UnitReport.h"
#include "Zpl.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <arpa/inet.h>
#include <future>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace bms::labels;
using bms::test::SocketPrinter;

namespace {

QString Folder()
{
    QFile state(qEnvironmentVariable("BMS_CUPS_STATE"));
    return state.open(QIODevice::ReadOnly) ? QString::fromUtf8(state.readAll()).trimmed() : QString();
}

// The program's output (stdout, then stderr).
QString Command(const QString& program, const QStringList& args, int* rc = nullptr)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(60000);
    if (rc)
        *rc = p.exitCode();
    return QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
}

void Server(const char* what)
{
    int rc = 0;
    const QString out = Command(qEnvironmentVariable("BMS_CUPS_SCRIPT"), {QLatin1String(what), qEnvironmentVariable("BMS_CUPS_STATE")}, &rc);
    ASSERT_EQ(rc, 0) << qPrintable(out);
}

void AddRawQueue(const QString& name, int port)
{
    int rc = 0;
    const QString out = Command(QStringLiteral("lpadmin"), {QStringLiteral("-p"), name, QStringLiteral("-E"), QStringLiteral("-v"),
                                                         QStringLiteral("socket://127.0.0.1:%1").arg(port)}, &rc);
    ASSERT_EQ(rc, 0) << qPrintable(out);
}

QJsonObject Record()
{
    return QJsonObject{
        {QStringLiteral("run_id"), QStringLiteral("57be8f28-1c5a-4b8e-9d41-0a7f3e2b6c11")},
        {QStringLiteral("station_id"), QStringLiteral("EOL-1")},
        {QStringLiteral("outcome"), QStringLiteral("PASS")},
        {QStringLiteral("ended_at"), QStringLiteral("2026-12-09T14:04:02.877+01:00")},
        {QStringLiteral("pack"), QJsonObject{{QStringLiteral("barcode"), QStringLiteral("202612090001")},
                                             {QStringLiteral("serial_number"), QStringLiteral("QX2026120900017")},
                                             {QStringLiteral("uid"), QStringLiteral("0123456789ABCDEF01234567")}}},
    };
}

class LabelsCups : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = Folder();
        ASSERT_FALSE(folder_.isEmpty()) << "no CUPS server: run with the labels_cups fixture";
        qputenv("CUPS_SERVER", (folder_ + QStringLiteral("/cups.sock")).toUtf8());
    }
    QString folder_;
};

TEST_F(LabelsCups, ZplReachesTheSocketPrinterByteForByte)
{
    SocketPrinter printer;
    AddRawQueue(QStringLiteral("zpl"), printer.port());
    std::future<QByteArray> got = printer.take();
    const QString templ = QStringLiteral("^XA^FO20,20^BCN,80^FD${barcode}^FS^FO20,120^FDSN ${serial_number} ${station}^FS^XZ\n");
    QJsonObject record = Record();
    QJsonObject pack = record.value(QStringLiteral("pack")).toObject();
    pack.insert(QStringLiteral("serial_number"), QStringLiteral("QX~1^ü"));
    record.insert(QStringLiteral("pack"), pack);
    const QByteArray zpl = FillZpl(templ, record);
    const JobResult r = Cups::Print({QStringLiteral("zpl"), zpl, kRawFormat, 1, QStringLiteral("t"), {}}, 60000);
    ASSERT_TRUE(r.printed) << qPrintable(r.reason);
    EXPECT_EQ(got.get(), QByteArray("^XA^CI28^FO20,20^BCN,80^FD202612090001^FS^FO20,120^FH_^FDSN QX_7E1_5E_C3_BC EOL-1^FS^XZ\n"));
}

// The PDF cups-pdf wrote for job `id`.
QString PdfOfJob(const QString& folder, int id)
{
    for (int i = 0; i < 200; ++i) {
        const QStringList found = QDir(folder + QStringLiteral("/pdf")).entryList({QStringLiteral("*job_%1.pdf").arg(id)});
        if (!found.isEmpty())
            return folder + QStringLiteral("/pdf/") + found.first();
        QThread::msleep(50);
    }
    return {};
}

TEST_F(LabelsCups, LayoutPrintedToPdfDecodesBack)
{
    QTemporaryDir dir;
    QFile layout(dir.filePath(QStringLiteral("pass.toml")));
    ASSERT_TRUE(layout.open(QIODevice::WriteOnly));
    layout.write("width = 100\nheight = 60\n"
                 "[[text]]\nx = 3\ny = 2\nsize = 4\nbold = true\ntext = \"SN ${serial_number}\"\n"
                 "[[barcode]]\ntype = \"code128\"\nx = 3\ny = 9\nwidth = 94\nheight = 16\ndata = \"${barcode}\"\n"
                 "[[barcode]]\ntype = \"datamatrix\"\nx = 3\ny = 28\nwidth = 28\nheight = 28\ndata = \"${serial_number}\"\n"
                 "[[barcode]]\ntype = \"qr\"\nx = 60\ny = 28\nwidth = 30\nheight = 30\ndata = \"${run_id}\"\n");
    layout.close();
    bms::station::LabelSection section;
    section.layout = layout.fileName();
    PrintOrder order;
    QString error;
    ASSERT_TRUE(MakeLabelOrder(section, Record(), QStringLiteral("pdf"), order, error)) << qPrintable(error);
    const JobResult r = Cups::Print(order, 120000);
    ASSERT_TRUE(r.printed) << qPrintable(r.reason);
    const QString pdf = PdfOfJob(folder_, r.jobId);
    ASSERT_FALSE(pdf.isEmpty());
    EXPECT_TRUE(Command(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")}).contains(QStringLiteral("SN QX2026120900017")));
    const QString png = dir.filePath(QStringLiteral("page"));
    Command(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QStringLiteral("300"), QStringLiteral("-png"), QStringLiteral("-singlefile"), pdf, png});
    QProcess zbar;
    zbar.start(QStringLiteral("zbarimg"), {QStringLiteral("-q"), QStringLiteral("--raw"), png + QStringLiteral(".png")});
    zbar.waitForFinished(60000);
    QStringList codes = QString::fromUtf8(zbar.readAllStandardOutput())
                            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    codes.sort();
    EXPECT_EQ(codes, QStringList({QStringLiteral("202612090001"), QStringLiteral("57be8f28-1c5a-4b8e-9d41-0a7f3e2b6c11")}));
    EXPECT_EQ(Command(QStringLiteral("dmtxread"), {QStringLiteral("-n"), QStringLiteral("-m"), QStringLiteral("10000"), png + QStringLiteral(".png")}).trimmed(),
              QStringLiteral("QX2026120900017"));
}

// The report shows every value whole: a long step name and a value longer
// than its column's share of the page are read back as they are, "ff" as
// two letters.
TEST(UnitReport, ValuesShowWhole)
{
    QJsonObject record = Record();
    const QString uid = QStringLiteral("3C986AFC80EB4E80634E3723");
    const QString step = QStringLiteral("calibrate_offset_again");
    record.insert(QStringLiteral("steps"), QJsonArray{QJsonObject{{QStringLiteral("index"), 0}, {QStringLiteral("name"), step},
                                                                  {QStringLiteral("kind"), QStringLiteral("identify")},
                                                                  {QStringLiteral("outcome"), QStringLiteral("PASS")}}});
    record.insert(QStringLiteral("measurements"),
                  QJsonArray{QJsonObject{{QStringLiteral("step"), 0}, {QStringLiteral("name"), QStringLiteral("uid")}, {QStringLiteral("value"), uid},
                                         {QStringLiteral("limits"), QJsonObject{{QStringLiteral("matches"), QStringLiteral("[0-9A-F]{24}")}}},
                                         {QStringLiteral("outcome"), QStringLiteral("PASS")}}});
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("r.pdf"));
    QString error;
    ASSERT_TRUE(WriteReport(record, pdf, error)) << qPrintable(error);
    const QStringList lines = Command(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")}).split(QLatin1Char('\n'));
    const auto row = std::find_if(lines.begin(), lines.end(), [](const QString& l) { return l.contains(QStringLiteral("[0-9A-F]{24}")); });
    ASSERT_NE(row, lines.end());
    EXPECT_EQ(row->simplified().toStdString(), QStringLiteral("%1 uid %2 ~ [0-9A-F]{24} PASS").arg(step, uid).toStdString());
}

// Neither the recipe nor the station names a printer: CUPS's default queue.
TEST_F(LabelsCups, LabelGoesToTheDefaultQueueWhenNoneIsNamed)
{
    SocketPrinter printer;
    AddRawQueue(QStringLiteral("dflt"), printer.port());
    Command(QStringLiteral("lpadmin"), {QStringLiteral("-d"), QStringLiteral("dflt")});
    QTemporaryDir dir;
    QFile zpl(dir.filePath(QStringLiteral("l.zpl")));
    ASSERT_TRUE(zpl.open(QIODevice::WriteOnly));
    zpl.write("^XA^FD${barcode}^FS^XZ");
    zpl.close();
    bms::station::LabelSection section;
    section.templateFile = zpl.fileName();
    PrintOrder order;
    QString error;
    EXPECT_TRUE(MakeLabelOrder(section, Record(), {}, order, error)) << qPrintable(error);
    Command(QStringLiteral("lpadmin"), {QStringLiteral("-x"), QStringLiteral("dflt")});
    EXPECT_EQ(order.queue, QStringLiteral("dflt"));
}

TEST_F(LabelsCups, FailuresInWordsAndPrintingAfterwards)
{
    const QByteArray zpl("^XA^FDx^FS^XZ");
    // A queue that does not exist.
    JobResult r = Cups::Print({QStringLiteral("nosuch"), zpl, kRawFormat, 1, QStringLiteral("t"), {}}, 10000);
    EXPECT_FALSE(r.printed);
    EXPECT_EQ(r.jobId, 0);
    EXPECT_TRUE(r.reason.contains(QStringLiteral("does not exist"))) << qPrintable(r.reason);

    // A stopped queue takes no job, so printing again later prints once.
    SocketPrinter printer;
    AddRawQueue(QStringLiteral("stopped"), printer.port());
    Command(QStringLiteral("cupsdisable"), {QStringLiteral("-r"), QStringLiteral("out of labels"), QStringLiteral("stopped")});
    r = Cups::Print({QStringLiteral("stopped"), zpl, kRawFormat, 1, QStringLiteral("t"), {}}, 10000);
    EXPECT_FALSE(r.printed);
    EXPECT_EQ(r.reason, QStringLiteral("the printer stopped is stopped: out of labels"));
    Command(QStringLiteral("cupsenable"), {QStringLiteral("stopped")});
    std::future<QByteArray> got = printer.take();
    r = Cups::Print({QStringLiteral("stopped"), zpl, kRawFormat, 1, QStringLiteral("t"), {}}, 60000);
    EXPECT_TRUE(r.printed) << qPrintable(r.reason);
    EXPECT_EQ(got.get(), zpl);

    // The server stops while the printer has not taken the job.
    std::promise<void> release;
    std::future<QByteArray> held = printer.take(release.get_future().share());
    const int id = Cups::Submit({QStringLiteral("stopped"), zpl, kRawFormat, 1, QStringLiteral("t"), {}}, r.reason);
    ASSERT_GT(id, 0) << qPrintable(r.reason);
    std::future<JobResult> followed = std::async(std::launch::async, [id] { return Cups::Follow(QStringLiteral("stopped"), id, 60000); });
    QThread::msleep(500);
    Server("stop");
    r = followed.get();
    release.set_value();
    held.wait();
    EXPECT_FALSE(r.printed);
    EXPECT_TRUE(r.reason.startsWith(QStringLiteral("CUPS"))) << qPrintable(r.reason);
    r = Cups::Print({QStringLiteral("stopped"), zpl, kRawFormat, 1, QStringLiteral("t"), {}}, 10000);
    EXPECT_TRUE(r.reason.startsWith(QStringLiteral("CUPS is not running"))) << qPrintable(r.reason);
    Server("restart");
    Cups::Cancel(QStringLiteral("stopped"), id);
    got = printer.take();
    r = Cups::Print({QStringLiteral("stopped"), zpl, kRawFormat, 1, QStringLiteral("t"), {}}, 60000);
    EXPECT_TRUE(r.printed) << qPrintable(r.reason);
    EXPECT_EQ(got.get(), zpl);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
