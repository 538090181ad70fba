// Progress of the record transfer on stderr: records sent of the total, the
// rate and the time left. On a terminal it is one line drawn over itself;
// otherwise a plain line at every tenth of the image and at least every 10 s.
#pragma once

#include <QElapsedTimer>
#include <QString>

namespace bms::cli {

class ProgressLine {
public:
    ProgressLine();
    // `sent` of `total` records have gone out.
    void update(int sent, int total);
    // Ends the line (a terminal's updating line gets its line feed).
    void finish();

    // "Records 500/2000 (25%)  170.3 records/s  0:09 left" (time left only
    // once a rate is known).
    static QString Text(int sent, int total, double perSecond);
    ~ProgressLine();

private:
    void draw(const QString& text);

    bool terminal_;
    bool drawn_ = false;
    int lastTenth_ = -1;
    QElapsedTimer clock_;    // since the first record
    QElapsedTimer lastDraw_;
};

// Ends the progress line drawn over itself on the terminal, if there is
// one, so that the next line (a note, an error, a trace line) starts at the
// left margin; the next update draws it again below.
void EndProgressLine();

} // namespace bms::cli
