// CPU time from a received telemetry frame to the refreshed window: the real
// window (offscreen unless a platform is given) with the dispatcher's hooks
// wired; the answers to the seven read blocks of a 16-cell pack are fed
// through cm1ReceiveData in rotation, each followed by the repaint.
//   bench_window_frames [frames]
#include "MainForm.h"
#include "WidgetHost.h"

#include "Codec.h"
#include "CommRecord.h"
#include "Receive.h"
#include "ReadRequests.h"

#include <QApplication>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

double CpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

double WallSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

void Put16(std::vector<uint8_t>& data, int index, uint16_t v)
{
    data[2 * index] = uint8_t(v >> 8);
    data[2 * index + 1] = uint8_t(v);
}

// A function-4 answer of `registers` registers filled by `fill(index)`.
template <class Fill>
std::vector<uint8_t> Answer(int registers, Fill fill)
{
    std::vector<uint8_t> data(2 * registers);
    for (int i = 0; i < registers; ++i)
        Put16(data, i, fill(i));
    std::vector<uint8_t> frame{bms::SlaveAddr, 0x04, uint8_t(data.size())};
    frame.insert(frame.end(), data.begin(), data.end());
    const uint16_t crc = bms::Crc16(frame.data(), int(frame.size()));
    frame.push_back(uint8_t(crc));
    frame.push_back(uint8_t(crc >> 8));
    return frame;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int frames = argc > 1 ? std::atoi(argv[1]) : 7000;

    MainForm form;
    form.host().messageHook = [](const bms::MessageBoxInfo&) { return true; };
    form.terminate = [] {};
    form.show();
    QCoreApplication::processEvents();

    // Blocks 0..6 of a pack with 16 cells, 4 cell and 2 MOS temperatures.
    std::vector<std::vector<uint8_t>> answers = {
        Answer(30, [](int i) { return uint16_t(0x1000 + i * 37); }),
        Answer(4, [](int i) { return uint16_t(i == 0 ? 0x0401 : 0); }),
        Answer(4, [](int i) { return uint16_t(i == 0 ? 0x0023 : 0); }),
        Answer(6, [](int i) { return uint16_t(i == 4 ? 0x0204 : i == 5 ? 16 : 100); }),
        Answer(4, [](int i) { return uint16_t(2981 + i); }),
        Answer(2, [](int i) { return uint16_t(3001 + i); }),
        Answer(16, [](int i) { return uint16_t(3300 + i); }),
    };

    auto feed = [&](int n, bool repaint) {
        for (int i = 0; i < n; ++i) {
            const std::vector<uint8_t>& frame = answers[i % answers.size()];
            bms::ReadBlock = int32_t(i % answers.size());
            // The read this frame answers, as the request builder records it.
            bms::ReadRequests.record(bms::ReadBlock, 0, uint16_t(frame[2] / 2), bms::MonotonicMs());
            bms::MY_COM.RxState = 1;
            bms::cm1ReceiveData(frame.data(), uint16_t(frame.size()));
            if (repaint)
                QCoreApplication::processEvents();
        }
    };
    feed(700, true); // warm-up: fonts, caches, memo

    for (bool repaint : {false, true}) {
        const double cpu0 = CpuSeconds();
        const double wall0 = WallSeconds();
        feed(frames, repaint);
        const double cpu = CpuSeconds() - cpu0;
        const double wall = WallSeconds() - wall0;
        std::printf("%-44s %8.1f us CPU/frame  %8.1f us wall/frame  (%d frames)\n",
                    repaint ? "frame -> decoded, displayed and repainted:" : "frame -> decoded and displayed (no paint):",
                    cpu * 1e6 / frames, wall * 1e6 / frames, frames);
    }
    form.host().messageHook = [](const bms::MessageBoxInfo&) { return true; };
    form.close();
    return 0;
}
