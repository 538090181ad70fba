// What a run leaves on paper, timed piece by piece: a label layout with two
// barcodes (Code 128 and Data Matrix) and two texts drawn into its PDF; the
// example PASS layout (docs/labels/pass.toml, three barcodes) likewise; the
// unit report PDF of a run with 200 measurements; and a label handed to CUPS
// (Cups::Submit: the queue's state asked, the job made and its document
// sent) against a throw-away cupsd (scripts/cups-test-server) with a raw
// queue to a socket this program listens on, and its cups-pdf queue when
// there is one (as root). After each hand-over the job is followed until
// the printer took it, which is not part of the figure but printed beside it.
// Aims: label 30 ms, report 150 ms, hand-over 50 ms.
//
// Usage: bench_labels_print [rounds, default 200]
#include "CupsJobs.h"
#include "LabelLayout.h"
#include "LayoutPainter.h"
#include "Percentile.h"
#include "RecordSamples.h"
#include "UnitReport.h"
#include "Zpl.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <functional>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using bms::bench::Percentile;

const char kTwoBarcodes[] = R"(width = 60
height = 30
[[text]]
x = 2
y = 1.5
size = 4
bold = true
text = "${serial_number}"
[[text]]
x = 2
y = 6.5
size = 2.2
text = "${outcome} ${date} ${station}  FW ${sw_version}"
[[barcode]]
type = "code128"
x = 1
y = 10
width = 40
height = 11
data = "${barcode}"
[[barcode]]
type = "datamatrix"
x = 43
y = 10
width = 16
height = 16
data = "${serial_number}"
)";

double Ms(const QElapsedTimer& t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

void Print(const char* what, const std::vector<double>& ms, double aim)
{
    std::printf("%-52s p50 %7.2f ms  p99 %7.2f ms  max %7.2f ms  (aim < %.0f ms, %zu samples)\n", what, Percentile(ms, 0.5),
                Percentile(ms, 0.99), Percentile(ms, 1.0), aim, ms.size());
}

// Times `work` `rounds` times after two rounds to warm up; nothing when it fails.
std::vector<double> Time(int rounds, const std::function<bool()>& work)
{
    std::vector<double> ms;
    for (int i = -2; i < rounds; ++i) {
        QElapsedTimer t;
        t.start();
        if (!work())
            return {};
        if (i >= 0)
            ms.push_back(Ms(t));
    }
    return ms;
}

// A printer on a loopback port that reads every job and drops it.
class SinkPrinter {
public:
    SinkPrinter()
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t n = sizeof a;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 8) != 0
            || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n) != 0)
            return;
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] {
            for (;;) {
                const int c = ::accept(fd_, nullptr, nullptr);
                if (c < 0 || stop_)
                    break;
                char buffer[8192];
                while (::read(c, buffer, sizeof buffer) > 0) {
                }
                ::close(c);
            }
        });
    }
    ~SinkPrinter()
    {
        stop_ = true;
        ::shutdown(fd_, SHUT_RDWR);
        if (thread_.joinable())
            thread_.join();
        ::close(fd_);
    }
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

bool Run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(program, args);
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// Hands `rounds` copies of `pdf` to `queue`, each followed to its end.
void TimeHandOver(const QString& queue, const QByteArray& pdf, const QString& format, int rounds, const char* what)
{
    std::vector<double> submit, taken;
    int failed = 0;
    for (int i = -2; i < rounds; ++i) {
        QString error;
        QElapsedTimer t;
        t.start();
        const int job = bms::labels::Cups::Submit({queue, pdf, format, 1, QStringLiteral("bench"), {}}, error);
        const double handed = Ms(t);
        if (!job) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(queue), qPrintable(error));
            return;
        }
        const bms::labels::JobResult r = bms::labels::Cups::Follow(queue, job, 60000);
        failed += r.printed ? 0 : 1;
        if (i >= 0) {
            submit.push_back(handed);
            taken.push_back(Ms(t));
        }
    }
    Print(what, submit, 50);
    std::printf("%-52s p50 %7.2f ms  p99 %7.2f ms  max %7.2f ms  (%d not printed)\n", "  ... until the printer took it", Percentile(taken, 0.5),
                Percentile(taken, 0.99), Percentile(taken, 1.0), failed);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(10, std::atoi(argv[1])) : 200;

    bms::test::SampleRun sample;
    sample.barcode = QStringLiteral("202612090001");
    sample.measurements = 200;
    const QJsonObject record = bms::test::SampleRecord(sample);

    bms::labels::LabelFault fault;
    const auto any = [](const QString&) { return true; };
    const auto two = bms::labels::ParseLayout(QString::fromLatin1(kTwoBarcodes), any, fault);
    QString passText, error;
    std::optional<bms::labels::LabelLayout> pass;
    if (bms::labels::ReadLabelFile(QStringLiteral(LABELS_DIR "/pass.toml"), passText, error))
        pass = bms::labels::ParseLayout(passText, any, fault);
    if (!two || !pass) {
        std::fprintf(stderr, "layout: %s %s\n", qPrintable(error), qPrintable(fault.text()));
        return 1;
    }
    QByteArray label;
    const auto drawn = [&](const bms::labels::LabelLayout& layout) {
        return [&] {
            label.clear();
            return bms::labels::LabelPdf(layout, record, label, error);
        };
    };
    Print("label PDF, 2 barcodes and 2 texts (60 x 30 mm)", Time(rounds, drawn(*two)), 30);
    Print("label PDF, docs/labels/pass.toml (3 barcodes)", Time(rounds, drawn(*pass)), 30);
    QByteArray report;
    Print("report PDF, a run of 200 measurements", Time(rounds, [&] {
              report.clear();
              return bms::labels::ReportPdf(record, report, error);
          }), 150);
    std::printf("(label %lld bytes, report %lld bytes)\n", static_cast<long long>(label.size()), static_cast<long long>(report.size()));

    // The throw-away CUPS server.
    QTemporaryDir dir;
    const QString state = dir.filePath(QStringLiteral("cups.state"));
    if (!Run(QStringLiteral(CUPS_TEST_SERVER), {QStringLiteral("start"), state})) {
        std::fprintf(stderr, "no CUPS server\n");
        return 1;
    }
    QFile stateFile(state);
    stateFile.open(QIODevice::ReadOnly);
    const QString folder = QString::fromUtf8(stateFile.readAll()).trimmed();
    qputenv("CUPS_SERVER", (folder + QStringLiteral("/cups.sock")).toUtf8());
    {
        SinkPrinter sink;
        if (Run(QStringLiteral("lpadmin"), {QStringLiteral("-p"), QStringLiteral("sink"), QStringLiteral("-E"), QStringLiteral("-v"),
                                            QStringLiteral("socket://127.0.0.1:%1").arg(sink.port())})) {
            const int n = std::min(rounds, 100);
            TimeHandOver(QStringLiteral("sink"), label, bms::labels::kPdfFormat, n, "hand-over to CUPS, raw queue to a socket");
            if (bms::labels::Cups::Queues(error).contains(QStringLiteral("pdf")))
                TimeHandOver(QStringLiteral("pdf"), label, bms::labels::kPdfFormat, std::min(n, 20), "hand-over to CUPS, cups-pdf queue");
        }
    }
    Run(QStringLiteral(CUPS_TEST_SERVER), {QStringLiteral("destroy"), state});
    return 0;
}
