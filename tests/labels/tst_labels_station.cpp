// A station run's label and report end to end: quorlex-bms-cli station run
// against a virtual pack with a recipe that prints a ZPL label to a socket
// printer through the throw-away CUPS server and keeps (and prints) a unit
// report; the label byte for byte, the report read back, prints and
// reprints kept in the records; a stopped printer leaves the run's outcome
// as it was, the failure stored, and the label printed afterwards.
#include "Database.h"
#include "PrintLog.h"
#include "RecordStore.h"
#include "QtTestSupport.h"
#include "QuickPack.h"
#include "SocketPrinter.h"
#include "StationRecords.h"
#include "VirtualPack.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <future>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace bms;
using bms::test::SocketPrinter;

namespace {

class LabelsStation : public ::testing::Test {
protected:
    void SetUp() override
    {
        QFile state(qEnvironmentVariable("BMS_CUPS_STATE"));
        ASSERT_TRUE(state.open(QIODevice::ReadOnly)) << "no CUPS server: run with the labels_cups fixture";
        cups_ = QString::fromUtf8(state.readAll()).trimmed();
        env_ = QProcessEnvironment::systemEnvironment();
        env_.insert(QStringLiteral("XDG_DATA_HOME"), data_.path());
        env_.insert(QStringLiteral("CUPS_SERVER"), cups_ + QStringLiteral("/cups.sock"));
        env_.remove(QStringLiteral("QUORLEX_BMS_LINE_DB"));
        pack_ = std::make_unique<sim::VirtualPack>(test::QuickPack());
        port_ = QString::fromStdString(pack_->start());
        pack_->holdCurrent(10000);
        ASSERT_EQ(run(QStringLiteral("lpadmin"), {QStringLiteral("-p"), QStringLiteral("eolzpl"), QStringLiteral("-E"), QStringLiteral("-v"),
                                                  QStringLiteral("socket://127.0.0.1:%1").arg(printer_.port())}),
                  0);
        // The example recipe beside its image, with a label and a report.
        QFile source(QStringLiteral(STATION_RECIPES "/virtual-pack-eol.toml"));
        ASSERT_TRUE(source.open(QIODevice::ReadOnly));
        QFile::copy(QStringLiteral(STATION_RECIPES "/virtual-pack-fw-1.5.4.hex"), data_.filePath(QStringLiteral("virtual-pack-fw-1.5.4.hex")));
        write(QStringLiteral("eol.toml"), source.readAll() + "\n[label]\ntemplate = \"pass.zpl\"\nprinter = \"eolzpl\"\n"
                                                           "[report]\nsave = \"always\"\nprint = true\nprinter = \"pdf\"\n");
        write(QStringLiteral("pass.zpl"), "^XA^FO20,20^BCN,80^FD${barcode}^FS^FO20,120^FD${serial_number} ${m.cell_spread}^FS^XZ\n");
    }

    void write(const QString& name, const QByteArray& text)
    {
        QFile f(data_.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }

    int run(const QString& program, const QStringList& args, QByteArray* out = nullptr)
    {
        QProcess p;
        p.setProcessEnvironment(env_);
        p.start(program, args);
        p.waitForFinished(120000);
        if (out)
            *out = p.readAllStandardOutput() + p.readAllStandardError();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

    int cli(const QStringList& args, QByteArray* out = nullptr) { return run(QStringLiteral(BMS_CLI), args, out); }

    // A station run of `barcode`; its record.
    QJsonObject station(const QString& barcode, int wantCode = 0)
    {
        QByteArray out;
        const int code = cli({QStringLiteral("--port"), port_, QStringLiteral("--json"), QStringLiteral("station"), QStringLiteral("run"),
                              data_.filePath(QStringLiteral("eol.toml")), QStringLiteral("--results"), data_.filePath(QStringLiteral("results")),
                              QStringLiteral("--barcode"), barcode, QStringLiteral("--yes"), QStringLiteral("--operator"), QStringLiteral("anna"),
                              QStringLiteral("--station"), QStringLiteral("EOL-1")},
                             &out);
        EXPECT_EQ(code, wantCode) << out.toStdString();
        for (const QByteArray& line : out.split('\n')) {
            const QJsonObject e = QJsonDocument::fromJson(line).object();
            if (e.value(QStringLiteral("event")).toString() == QLatin1String("record"))
                return e.value(QStringLiteral("record")).toObject();
        }
        return {};
    }

    // The prints of `runId` once `count` of them are kept.
    std::vector<records::PrintEntry> prints(const QString& runId, size_t count)
    {
        std::vector<records::PrintEntry> found;
        test::WaitUntil([&] {
            QString error;
            auto records = records::StationRecords::open({data_.filePath(QStringLiteral("quorlex-bms/station.db")), {}}, error);
            if (records)
                found = records::PrintsOf(records->local(), runId, error).value_or(std::vector<records::PrintEntry>());
            return found.size() >= count;
        }, 60000);
        return found;
    }

    QString pdfText(const QString& pdf)
    {
        QProcess p;
        p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
        p.waitForFinished(60000);
        return QString::fromUtf8(p.readAllStandardOutput());
    }

    QTemporaryDir data_;
    QString cups_;
    QProcessEnvironment env_;
    std::unique_ptr<sim::VirtualPack> pack_;
    QString port_;
    SocketPrinter printer_;
};

TEST_F(LabelsStation, PassLabelReportReprintAndAStoppedPrinter)
{
    std::future<QByteArray> label = printer_.take();
    const QJsonObject r = station(QStringLiteral("202612090001"));
    const QString runId = r.value(QStringLiteral("run_id")).toString();
    const QJsonObject pack = r.value(QStringLiteral("pack")).toObject();
    ASSERT_EQ(label.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    QString spread;
    for (const QJsonValue& m : r.value(QStringLiteral("measurements")).toArray())
        if (m.toObject().value(QStringLiteral("name")).toString() == QLatin1String("cell_spread"))
            spread = QString::number(m.toObject().value(QStringLiteral("value")).toInteger());
    const QByteArray zpl = QStringLiteral("^XA^FO20,20^BCN,80^FD202612090001^FS^FO20,120^FD%1 %2^FS^XZ\n")
                               .arg(pack.value(QStringLiteral("serial_number")).toString(), spread)
                               .toUtf8();
    EXPECT_EQ(label.get(), zpl);

    // The label and the report, each printed once and kept.
    std::vector<records::PrintEntry> kept = prints(runId, 2);
    ASSERT_EQ(kept.size(), 2u);
    for (const records::PrintEntry& e : kept) {
        EXPECT_EQ(e.state, QStringLiteral("printed")) << e.kind.toStdString() << ": " << e.reason.toStdString();
        EXPECT_GT(e.jobId, 0);
        EXPECT_EQ(e.operatorName, QStringLiteral("anna"));
        EXPECT_TRUE(e.reprintReason.isEmpty());
    }
    // The report in the results' folder, read back against the record.
    const QString report = data_.filePath(QStringLiteral("results/reports/202612090001_%1.pdf").arg(runId));
    const QString text = pdfText(report);
    for (const QString& want : {QStringLiteral("PASS"), pack.value(QStringLiteral("serial_number")).toString(), pack.value(QStringLiteral("uid")).toString(),
                                r.value(QStringLiteral("recipe")).toObject().value(QStringLiteral("sha256")).toString(), QStringLiteral("EOL-1"),
                                QStringLiteral("anna"), QStringLiteral("calibrate_current"), QStringLiteral("error before"),
                                QStringLiteral("cell_spread"), QStringLiteral("1.5.3"), QStringLiteral("1.5.4")})
        EXPECT_TRUE(text.contains(want)) << want.toStdString() << " not in\n" << text.toStdString();
    QProcess png;
    png.start(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QStringLiteral("150"), QStringLiteral("-png"), QStringLiteral("-f"), QStringLiteral("1"),
                                           QStringLiteral("-singlefile"), report, data_.filePath(QStringLiteral("page"))});
    png.waitForFinished(60000);
    QProcess zbar;
    zbar.start(QStringLiteral("zbarimg"), {QStringLiteral("-q"), QStringLiteral("--raw"), data_.filePath(QStringLiteral("page.png"))});
    zbar.waitForFinished(60000);
    EXPECT_EQ(QString::fromUtf8(zbar.readAllStandardOutput()).trimmed(), runId);

    // A second print needs a reason; a reprint is kept with it.
    EXPECT_EQ(cli({QStringLiteral("station"), QStringLiteral("print"), runId}), 2);
    EXPECT_EQ(cli({QStringLiteral("station"), QStringLiteral("reprint"), runId}), 2);
    label = printer_.take();
    QByteArray out;
    EXPECT_EQ(cli({QStringLiteral("station"), QStringLiteral("reprint"), runId, QStringLiteral("--reason"), QStringLiteral("label torn"),
                   QStringLiteral("--operator"), QStringLiteral("ben")}, &out), 0) << out.toStdString();
    EXPECT_EQ(label.get(), zpl);
    kept = prints(runId, 3);
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept.back().reprintReason, QStringLiteral("label torn"));
    EXPECT_EQ(kept.back().operatorName, QStringLiteral("ben"));

    // The printer stopped: the run passes all the same, the failure kept;
    // once the printer is back the label prints.
    ASSERT_EQ(run(QStringLiteral("cupsdisable"), {QStringLiteral("-r"), QStringLiteral("out of paper"), QStringLiteral("eolzpl")}), 0);
    const QJsonObject second = station(QStringLiteral("202612090002"));
    EXPECT_EQ(second.value(QStringLiteral("outcome")).toString(), QStringLiteral("PASS"));
    const QString secondId = second.value(QStringLiteral("run_id")).toString();
    kept = prints(secondId, 2);
    const auto failed = std::find_if(kept.begin(), kept.end(), [](const records::PrintEntry& e) { return e.kind == QLatin1String("label"); });
    ASSERT_NE(failed, kept.end());
    EXPECT_EQ(failed->state, QStringLiteral("failed"));
    EXPECT_EQ(failed->reason, QStringLiteral("the printer eolzpl is stopped: out of paper"));
    ASSERT_EQ(run(QStringLiteral("cupsenable"), {QStringLiteral("eolzpl")}), 0);
    label = printer_.take();
    EXPECT_EQ(cli({QStringLiteral("station"), QStringLiteral("print"), secondId}, &out), 0) << out.toStdString();
    EXPECT_TRUE(label.get().contains("202612090002"));

    // Any stored run's report on demand.
    const QString asked = data_.filePath(QStringLiteral("asked.pdf"));
    EXPECT_EQ(cli({QStringLiteral("station"), QStringLiteral("report"), runId.left(8), QStringLiteral("--pdf"), asked}, &out), 0) << out.toStdString();
    EXPECT_TRUE(pdfText(asked).contains(QStringLiteral("202612090001")));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
