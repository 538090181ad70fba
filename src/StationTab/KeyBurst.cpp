#include "KeyBurst.h"

namespace bms::stationtab {

bool KeyBurst::key(const QString& text, qint64 ms)
{
    const bool begins = last_ < 0 || ms - last_ > kGapMs;
    if (begins)
        keys_.clear();
    keys_ += text;
    last_ = ms;
    return begins;
}

std::optional<QString> KeyBurst::end(qint64 ms)
{
    std::optional<QString> line;
    if (last_ >= 0 && ms - last_ <= kGapMs && keys_.size() >= kMinKeys)
        line = keys_;
    reset();
    return line;
}

void KeyBurst::reset()
{
    keys_.clear();
    last_ = -1;
}

} // namespace bms::stationtab
