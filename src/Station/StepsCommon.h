// Shared by the step implementations: their makers and the words for a
// write the pack did not take.
#pragma once

#include "Quantities.h"
#include "StepHost.h"

namespace bms::station {

std::unique_ptr<Step> MakeIdentifyStep(StepHost& host);
std::unique_ptr<Step> MakeScanStep(StepHost& host);
std::unique_ptr<Step> MakeWriteIdentityStep(StepHost& host);
std::unique_ptr<Step> MakeUpgradeStep(StepHost& host);
std::unique_ptr<Step> MakeCalibrateStep(StepHost& host);
std::unique_ptr<Step> MakeSettingsStep(StepHost& host);
std::unique_ptr<Step> MakeCheckStep(StepHost& host);
std::unique_ptr<Step> MakePromptStep(StepHost& host);

// "the pack refused barcode 202612080001: exception 02"
QString WriteFailure(const PackWrite& write, const WriteResult& result);

} // namespace bms::station
