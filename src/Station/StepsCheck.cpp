// The check step: samples rotations of the telemetry, a number of them or
// for a duration, and judges every named quantity in every sample. A
// quantity's measurement holds the first sample that failed its limits, or
// the last sample when none did.
#include "StepsCommon.h"

#include <QElapsedTimer>
#include <map>

namespace bms::station {

namespace {

class CheckStep : public Step {
public:
    using Step::Step;
    void run() override
    {
        clock_.start();
        sample();
    }

private:
    struct Kept {
        QJsonValue value;
        const Limits* limits = nullptr;
        bool failed = false;
    };

    void sample()
    {
        host_.driver().readTelemetry([this](const TelemetryRead& t) {
            if (!t.ok)
                return host_.done(Outcome::Error, t.error);
            judge(t);
            ++samples_;
            const RecipeStep& s = host_.recipeStep();
            const bool more = s.durationS > 0 ? clock_.elapsed() < s.durationS * 1000 : samples_ < s.rotations;
            if (more)
                return sample();
            report();
        });
    }

    void judge(const TelemetryRead& t)
    {
        for (const NamedLimits& l : host_.recipeStep().limits) {
            for (const QString& name : ExpandQuantity(l.name, t)) {
                auto [it, added] = kept_.try_emplace(name);
                if (added)
                    order_.push_back(name);
                Kept& k = it->second;
                if (k.failed)
                    continue;
                k.value = QuantityValue(name, t);
                k.limits = &l.limits;
                k.failed = Evaluate(name, k.value, l.limits).verdict == Outcome::Fail;
            }
        }
    }

    void report()
    {
        for (const QString& name : order_) {
            const Kept& k = kept_.at(name);
            host_.measure(name, k.value, QuantityUnit(name), *k.limits);
        }
        host_.done(Outcome::Pass);
    }

    QElapsedTimer clock_;
    int samples_ = 0;
    std::map<QString, Kept> kept_;
    QStringList order_;
};

} // namespace

std::unique_ptr<Step> MakeCheckStep(StepHost& h) { return std::make_unique<CheckStep>(h); }

} // namespace bms::station
