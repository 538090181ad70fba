#include "FirmwareImages.h"

#include "Codec.h"

namespace bms::sim {

void FirmwareImages::clear(Target target)
{
    if (target == Target::MainBoard)
        main_.clear();
    else
        dev_.clear();
}

void FirmwareImages::addDev(uint32_t index, const uint8_t* record, size_t size)
{
    // A record sent again (its answer was lost) takes the place it had.
    for (auto it = dev_.rbegin(); it != dev_.rend(); ++it) {
        if (it->index == index) {
            it->record.assign(record, record + size);
            return;
        }
    }
    dev_.push_back({index, std::vector<uint8_t>(record, record + size)});
}

std::vector<std::vector<uint8_t>> FirmwareImages::records(Target target) const
{
    if (target == Target::MainBoard)
        return main_;
    std::vector<std::vector<uint8_t>> out;
    out.reserve(dev_.size());
    for (const DevRecord& r : dev_)
        out.push_back(r.record);
    return out;
}

std::string FirmwareImages::hexText(Target target, const std::string& eol) const
{
    std::string text;
    for (const std::vector<uint8_t>& r : records(target)) {
        if (r.empty())
            continue;
        text.push_back(static_cast<char>(r[0]));
        text += BytesToHex(r.data() + 1, r.size() - 1);
        text += eol;
    }
    return text;
}

} // namespace bms::sim
