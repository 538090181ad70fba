// What a station run asks of the records (a serial number of the recipe's
// template, whether a barcode already passed at a station, a place for its
// record when it ends): the run's own interfaces, implemented by the stores
// of this folder.
#pragma once

#include "Stores.h"

namespace bms::records {

using station::PassHistory;
using station::RecordSink;
using station::SerialGrant;
using station::SerialSequence;

} // namespace bms::records
